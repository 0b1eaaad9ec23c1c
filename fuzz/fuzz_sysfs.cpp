// SPDX-License-Identifier: MIT
// The sysfs port lister over a made-up tty class: names, device links
// through layers of the serial core, drivers, and what a UART probe says.
// Each entry of the input is a flags byte, a length byte and name bytes.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/port_names.h"
#include "platform/posix/linux_port_list.h"
#include "reply_stream.h"

using namespace brivelton;
namespace fs = std::filesystem;

namespace {

constexpr const char* kStems[] = {"", "tty", "ttyS", "ttyUSB", "ttyACM", "rfcomm", "console", "ptmx"};
constexpr const char* kDrivers[] = {"", "serial8250", "cdc_acm", "usb-serial"};
constexpr char kNameChars[] = "0123456789012345678901234567890123456789abcSUB-_.";

// A scratch tree of our own, removed at exit.
struct ScratchDir {
  ScratchDir() {
    const std::string base =
        fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
    path = base + "/brivelton-fuzz-sysfs-XXXXXX";
    if (!mkdtemp(path.data())) std::abort();
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string path;
};

const std::string& Root() {
  static const ScratchDir dir;
  return dir.path;
}

struct Entry {
  std::string name;
  bool has_device;
  int driver;
  int layers;  // serial-core layers between the tty and its device
  bool uart;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string root = Root();
  const std::string tty = root + "/class";
  const std::string devices = root + "/devices";
  const std::string dev = root + "/dev";
  std::error_code ec;
  fs::remove_all(tty, ec);
  fs::remove_all(devices, ec);
  fs::create_directories(tty);
  fs::create_directories(devices);

  std::vector<Entry> entries;
  std::set<std::string> taken;
  for (size_t i = 0; i + 2 <= size && entries.size() < 10;) {
    const uint8_t flags = data[i];
    const size_t length = std::min<size_t>(data[i + 1] % 8, size - i - 2);
    Entry e{kStems[flags & 7], (flags & 8) != 0, (flags >> 4) & 3, (flags >> 6) & 3,
            (data[i + 1] & 0x80) != 0};
    for (size_t k = 0; k < length; ++k)
      e.name.push_back(kNameChars[data[i + 2 + k] % (sizeof kNameChars - 1)]);
    i += 2 + length;
    if (e.name.empty() || e.name == "." || e.name == ".." || !taken.insert(e.name).second)
      continue;
    fs::create_directory(tty + "/" + e.name);
    if (e.has_device) {
      // The device the driver belongs to, then the serial core's layers
      // below it; the tty's device link points at the lowest.
      std::string at = devices + "/" + std::to_string(entries.size());
      fs::create_directory(at);
      if (kDrivers[e.driver][0])
        fs::create_symlink(std::string("../../bus/drivers/") + kDrivers[e.driver], at + "/driver");
      fs::create_symlink("../../bus/platform", at + "/subsystem");
      for (int l = 0; l < e.layers; ++l) {
        at += "/layer";
        fs::create_directory(at);
        fs::create_symlink("../../bus/serial-base", at + "/subsystem");
      }
      fs::create_symlink(at, tty + "/" + e.name + "/device");
    }
    entries.push_back(e);
  }

  std::vector<std::string> probed;
  std::set<std::string> uarts;
  for (const auto& e : entries)
    if (e.uart) uarts.insert(dev + "/" + e.name);
  LinuxSysfsPortList list(tty, dev, [&](const std::string& path) {
    probed.push_back(path);
    return uarts.count(path) > 0;
  });
  const PortListing listing = list.List();
  FUZZ_CHECK(listing.status == PortListing::Status::kOk);

  // What a port is: not a virtual terminal; with a device, a driver other
  // than the legacy one or a UART behind it; without, only an RFCOMM port.
  std::vector<std::string> want;
  for (const auto& e : entries) {
    if (IsVirtualTtyName(e.name)) continue;
    const bool legacy = e.driver == 1;
    if (e.has_device ? (!legacy || e.uart) : e.name.starts_with("rfcomm")) want.push_back(e.name);
  }
  std::sort(want.begin(), want.end(),
            [](const std::string& a, const std::string& b) { return NaturalPortLess(a, b); });
  FUZZ_CHECK(listing.entries.size() == want.size());
  for (size_t k = 0; k < want.size(); ++k)
    FUZZ_CHECK(listing.entries[k] && *listing.entries[k] == dev + "/" + want[k]);
  // Only the legacy driver's ports cost a probe.
  for (const auto& path : probed) {
    const std::string name = path.substr(dev.size() + 1);
    const auto e = std::find_if(entries.begin(), entries.end(),
                                [&](const Entry& x) { return x.name == name; });
    FUZZ_CHECK(e != entries.end() && e->has_device && e->driver == 1);
  }
  return 0;
}
