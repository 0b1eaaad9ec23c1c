// SPDX-License-Identifier: MIT
#include "platform/posix/linux_port_list.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "platform/port_names.h"

namespace brivelton {
namespace {

// The last component of a symbolic link's target, or "" when there is none.
std::string LinkBasename(const std::string& path) {
  char target[4096];
  const ssize_t n = readlink(path.c_str(), target, sizeof target);
  if (n <= 0 || size_t(n) >= sizeof target) return {};
  const std::string text(target, size_t(n));
  const size_t slash = text.rfind('/');
  return slash == std::string::npos ? text : text.substr(slash + 1);
}

bool Exists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

// A sysfs attribute's first line, or "" when it is missing.
std::string Attribute(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

std::string Basename(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The tty a port name stands for: a /dev/serial/by-id/... link stands for
// the one it links to.
std::string TtyOf(const std::string& name) {
  std::string tty = Basename(name);
  if (char* real = realpath(name.c_str(), nullptr)) {
    tty = Basename(real);
    free(real);
  }
  return tty;
}

}  // namespace

bool HasUart(const std::string& device_path) {
  const int fd = open(device_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // Phantom ports open fine; one held exclusively by a program is real.
    return errno == EBUSY;
  }
  serial_struct info{};
  const bool real = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  close(fd);
  return real;
}

LinuxSysfsPortList::LinuxSysfsPortList(std::string tty_class_dir,
                                       std::string dev_dir, UartProbe probe)
    : tty_class_dir_(std::move(tty_class_dir)),
      dev_dir_(std::move(dev_dir)),
      probe_(std::move(probe)) {}

std::string LinuxSysfsPortList::DriverDevice(const std::string& name) const {
  std::string device = tty_class_dir_ + "/" + name + "/device";
  if (!Exists(device)) return {};
  // Newer kernels put the serial core's own port and controller devices
  // between the tty and the device that drives it; look past them.
  for (int up = 0; up < 4 && LinkBasename(device + "/subsystem") == "serial-base"; ++up)
    device += "/..";
  return device;
}

bool LinuxSysfsPortList::IsRealPort(const std::string& name) {
  if (IsVirtualTtyName(name)) return false;
  const std::string device = DriverDevice(name);
  if (device.empty()) {
    // Bluetooth RFCOMM ports hang off no device until they connect.
    return name.starts_with("rfcomm");
  }
  if (LinkBasename(device + "/driver") != "serial8250") return true;
  return probe_ && probe_(dev_dir_ + "/" + name);
}

std::string LinuxSysfsPortList::UsbDevice(const std::string& device) const {
  if (device.empty()) return {};
  // The USB device is a few levels up: the port, its interface, the device.
  std::string usb = device;
  for (int up = 0; up < 4 && !Exists(usb + "/idVendor"); ++up) usb += "/..";
  return Exists(usb + "/idVendor") ? usb : std::string();
}

std::vector<PortDetail> LinuxSysfsPortList::Details(const std::string& name) const {
  const std::string tty = TtyOf(name);
  std::vector<PortDetail> details;
  auto add = [&details](const char* label, const std::string& value) {
    if (!value.empty()) details.push_back({label, value});
  };
  const std::string device = DriverDevice(tty);
  if (!device.empty()) {
    add("driver", LinkBasename(device + "/driver"));
    if (const std::string usb = UsbDevice(device); !usb.empty()) {
      add("usb", Attribute(usb + "/idVendor") + ":" + Attribute(usb + "/idProduct"));
      add("manufacturer", Attribute(usb + "/manufacturer"));
      add("product", Attribute(usb + "/product"));
      add("serial", Attribute(usb + "/serial"));
    }
  }
  const std::string by_id = dev_dir_ + "/serial/by-id";
  if (DIR* dir = opendir(by_id.c_str())) {
    std::vector<std::string> links;
    while (const dirent* entry = readdir(dir)) {
      const std::string link = by_id + "/" + entry->d_name;
      if (entry->d_name[0] != '.' && LinkBasename(link) == tty) links.push_back(link);
    }
    closedir(dir);
    std::sort(links.begin(), links.end());
    for (const auto& link : links) add("by-id", link);
  }
  return details;
}

UsbIdentity LinuxSysfsPortList::UsbIdentityOf(const std::string& name) const {
  const std::string usb = UsbDevice(DriverDevice(TtyOf(name)));
  if (usb.empty()) return {};
  return {Attribute(usb + "/idVendor"), Attribute(usb + "/idProduct"), Attribute(usb + "/serial")};
}

PortListing LinuxSysfsPortList::List() {
  PortListing listing;
  DIR* dir = opendir(tty_class_dir_.c_str());
  if (!dir) {
    listing.status = PortListing::Status::kCantOpen;
    return listing;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return NaturalPortLess(a, b);
  });
  for (const auto& name : names)
    if (IsRealPort(name)) listing.entries.emplace_back(dev_dir_ + "/" + name);
  return listing;
}

std::vector<std::string> LinuxSysfsPortList::FallbackNames() const {
  return LinuxFallbackPortNames();
}

}  // namespace brivelton
