// SPDX-License-Identifier: MIT
#include "platform/posix/linux_port_list.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/port_names.h"
#include "support/scratch_dir.h"

namespace brivelton {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const PortListing& listing) {
  std::vector<std::string> names;
  for (const auto& entry : listing.entries) names.push_back(entry.value_or("<empty>"));
  return names;
}

// A fake sysfs: the tty class, the devices behind it and their drivers, laid
// out as the kernel does (the tty entries link to devices by relative paths,
// so "device/.." climbs the device tree).
class FakeSysfs {
 public:
  FakeSysfs() {
    fs::create_directories(root_ / "class/tty");
    fs::create_directories(root_ / "bus/serial-base");
  }
  std::string tty_dir() const { return root_ / "class/tty"; }
  std::string dev_dir() const { return root_ / "dev"; }

  // A device directory under devices/, bound to `driver`; `serial_base` puts
  // it on the serial core's own bus.
  void Device(const std::string& path, const std::string& driver,
              bool serial_base = false) {
    const fs::path dir = root_ / "devices" / path;
    fs::create_directories(dir);
    fs::create_directories(root_ / "drivers" / driver);
    fs::create_directory_symlink(root_ / "drivers" / driver, dir / "driver");
    if (serial_base)
      fs::create_directory_symlink(root_ / "bus/serial-base", dir / "subsystem");
  }
  // Attributes of a USB device under devices/, as the kernel shows them.
  void UsbAttributes(const std::string& path,
                     std::initializer_list<std::pair<const char*, const char*>> attributes) {
    const fs::path dir = root_ / "devices" / path;
    fs::create_directories(dir);
    for (const auto& [name, value] : attributes) std::ofstream(dir / name) << value << "\n";
  }
  // The device node under dev/ and a /dev/serial/by-id link to it.
  void ById(const std::string& link, const std::string& tty) {
    fs::create_directories(root_ / "dev/serial/by-id");
    std::ofstream(root_ / "dev" / tty).put('\0');
    fs::create_symlink("../../" + tty, root_ / "dev/serial/by-id" / link);
  }
  // A tty entry; `device` empty for a virtual one.
  void Tty(const std::string& name, const std::string& device = "") {
    const fs::path dir = root_ / "class/tty" / name;
    fs::create_directories(dir);
    if (!device.empty())
      fs::create_directory_symlink(fs::relative(root_ / "devices" / device, dir),
                                   dir / "device");
  }

 private:
  testing::ScratchDir scratch_{"brivelton_sysfs"};
  const fs::path root_ = scratch_.path();
};

// A machine with every kind of port: virtual ttys, legacy and newer 8250
// layouts (phantom and real), USB serial and ACM ports with their USB
// devices' attributes and by-id links, a platform UART, Bluetooth ports.
void LayOutMachine(FakeSysfs& sys) {
  for (const char* name : {"tty", "tty0", "tty12", "console", "ptmx", "ttyprintk"})
    sys.Tty(name);

  // Legacy layout: the tty's device is the driver's own device.
  sys.Device("pnp0/00:01", "serial");
  sys.Device("platform/serial8250", "serial8250");
  sys.Tty("ttyS5", "pnp0/00:01");
  sys.Tty("ttyS1", "platform/serial8250");  // phantom
  sys.Tty("ttyS3", "platform/serial8250");  // has a UART
  // Newer layout: serial-core port and controller devices sit in between.
  sys.Device("pnp0/00:00", "serial");
  sys.Device("pnp0/00:00/00:00:0", "ctrl", true);
  sys.Device("pnp0/00:00/00:00:0/00:00:0.0", "port", true);
  sys.Device("platform/serial8250/serial8250:0", "ctrl", true);
  sys.Device("platform/serial8250/serial8250:0/serial8250:0.2", "port", true);
  sys.Device("platform/serial8250/serial8250:0/serial8250:0.4", "port", true);
  sys.Tty("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0");
  sys.Tty("ttyS2", "platform/serial8250/serial8250:0/serial8250:0.2");  // phantom
  sys.Tty("ttyS4", "platform/serial8250/serial8250:0/serial8250:0.4");  // has a UART

  // USB: the root hub, a device, its interface, and for USB serial a port.
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0"}) {
    sys.Device(std::string("usb1/1-1/1-1:1.0/") + name, "ftdi_sio");
    sys.Tty(name, std::string("usb1/1-1/1-1:1.0/") + name);
  }
  sys.Device("usb1/1-2/1-2:1.0", "cdc_acm");
  sys.Tty("ttyACM10", "usb1/1-2/1-2:1.0");
  sys.Tty("ttyACM2", "usb1/1-2/1-2:1.0");
  sys.Device("platform/uart0", "uart-pl011");
  sys.Tty("ttyAMA0", "platform/uart0");
  sys.Tty("rfcomm0");  // not connected: no device yet
  sys.Device("bt/hci0", "btusb");
  sys.Tty("rfcomm1", "bt/hci0");
  sys.UsbAttributes("usb1", {{"idVendor", "1d6b"}, {"idProduct", "0002"},
                             {"manufacturer", "Linux 6.1.0 xhci-hcd"}});
  sys.UsbAttributes("usb1/1-1", {{"idVendor", "0403"}, {"idProduct", "6001"},
                                 {"manufacturer", "FTDI"}, {"product", "FT232R USB UART"},
                                 {"serial", "A50285BI"}});
  sys.UsbAttributes("usb1/1-2", {{"idVendor", "0a12"}, {"idProduct", "0001"},
                                 {"product", "Bluetooth Phone Adapter"}});
  sys.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  sys.ById("usb-Bluetooth_Phone_Adapter-if00", "ttyACM2");
}

TEST(LinuxSysfsPortList, KeepsRealPortsInNaturalOrder) {
  FakeSysfs sys;
  LayOutMachine(sys);

  std::vector<std::string> probed;
  LinuxSysfsPortList list(sys.tty_dir(), "/devtest", [&](const std::string& path) {
    probed.push_back(path);
    return path == "/devtest/ttyS3" || path == "/devtest/ttyS4";
  });
  const PortListing listing = list.List();
  EXPECT_EQ(listing.status, PortListing::Status::kOk);
  EXPECT_EQ(Names(listing),
            (std::vector<std::string>{
                "/devtest/rfcomm0", "/devtest/rfcomm1", "/devtest/ttyACM2",
                "/devtest/ttyACM10", "/devtest/ttyAMA0", "/devtest/ttyS0",
                "/devtest/ttyS3", "/devtest/ttyS4", "/devtest/ttyS5",
                "/devtest/ttyUSB0", "/devtest/ttyUSB2", "/devtest/ttyUSB10"}));
  // Only the 8250 ports cost a probe.
  EXPECT_EQ(probed, (std::vector<std::string>{"/devtest/ttyS1", "/devtest/ttyS2",
                                              "/devtest/ttyS3", "/devtest/ttyS4"}));
}

TEST(LinuxSysfsPortList, DetailsTellPortsApart) {
  FakeSysfs sys;
  LayOutMachine(sys);
  const LinuxSysfsPortList list(sys.tty_dir(), sys.dev_dir(), [](const std::string&) { return true; });
  const std::string dev = sys.dev_dir();
  const std::string ftdi_link = dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  const std::vector<PortDetail> ftdi = {
      {"driver", "ftdi_sio"},      {"usb", "0403:6001"},  {"manufacturer", "FTDI"},
      {"product", "FT232R USB UART"}, {"serial", "A50285BI"}, {"by-id", ftdi_link}};
  const UsbIdentity ftdi_usb = {"0403", "6001", "A50285BI"};
  struct Case {
    std::string name;
    std::vector<PortDetail> details;
    UsbIdentity usb;  // what the journal keeps of it
  };
  const Case cases[] = {
      {dev + "/ttyUSB0", ftdi, ftdi_usb},
      // A by-id name stands for the port it links to.
      {ftdi_link, ftdi, ftdi_usb},
      // Same device, no link of its own.
      {dev + "/ttyUSB2", {ftdi.begin(), ftdi.end() - 1}, ftdi_usb},
      // What the device does not report is left out.
      {dev + "/ttyACM2",
       {{"driver", "cdc_acm"}, {"usb", "0a12:0001"}, {"product", "Bluetooth Phone Adapter"},
        {"by-id", dev + "/serial/by-id/usb-Bluetooth_Phone_Adapter-if00"}},
       {"0a12", "0001", ""}},
      // Past the serial core's own devices, and no USB above them.
      {dev + "/ttyS0", {{"driver", "serial"}}},
      {dev + "/ttyS4", {{"driver", "serial8250"}}},
      {dev + "/ttyAMA0", {{"driver", "uart-pl011"}}},
      {dev + "/rfcomm0", {}},
      {dev + "/ttyUSB99", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(list.Details(c.name), c.details);
    EXPECT_EQ(list.UsbIdentityOf(c.name), c.usb);
  }
}

TEST(LinuxSysfsPortList, UnreadableClassIsCantOpen) {
  FakeSysfs sys;
  LinuxSysfsPortList list(sys.tty_dir() + "/missing", "/dev",
                          [](const std::string&) { return true; });
  const PortListing listing = list.List();
  EXPECT_EQ(listing.status, PortListing::Status::kCantOpen);
  EXPECT_TRUE(listing.entries.empty());
  EXPECT_EQ(list.FallbackNames(), LinuxFallbackPortNames());

  // A class with no real port is an empty list, not a failure.
  sys.Tty("tty1");
  LinuxSysfsPortList empty(sys.tty_dir());
  EXPECT_EQ(empty.List().status, PortListing::Status::kOk);
  EXPECT_TRUE(empty.List().entries.empty());
}

TEST(LinuxSysfsPortList, ThisMachine) {
  if (access("/sys/class/tty", R_OK) != 0) GTEST_SKIP() << "no /sys/class/tty";
  const PortListing listing = LinuxSysfsPortList().List();
  ASSERT_EQ(listing.status, PortListing::Status::kOk);
  std::vector<std::string> names = Names(listing);
  for (const auto& name : names) {
    ASSERT_TRUE(name.starts_with("/dev/")) << name;
    EXPECT_FALSE(IsVirtualTtyName(name.substr(5))) << name;
  }
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end(),
                             [](const std::string& a, const std::string& b) {
                               return NaturalPortLess(a, b);
                             }));
}

TEST(HasUart, PseudoTerminalAndMissingDeviceAreNot) {
  EXPECT_FALSE(HasUart("/dev/no-such-serial-port"));
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  EXPECT_FALSE(HasUart(ptsname(master)));
  close(master);
}

}  // namespace
}  // namespace brivelton
