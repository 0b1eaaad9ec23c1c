// SPDX-License-Identifier: MIT
#pragma once
// The system's real serial ports, from the kernel's tty class in sysfs.
#include <functional>
#include <string>
#include <vector>

#include "platform/port_list.h"

namespace brivelton {

// Whether a legacy 8250 port has a UART behind it: the kernel creates such
// ports whether or not the hardware exists, and a probe of a phantom one costs
// seconds of silence. Opens `device_path` and asks for its UART type.
bool HasUart(const std::string& device_path);

class LinuxSysfsPortList : public PortList {
 public:
  using UartProbe = std::function<bool(const std::string& device_path)>;

  explicit LinuxSysfsPortList(std::string tty_class_dir = "/sys/class/tty",
                              std::string dev_dir = "/dev",
                              UartProbe probe = HasUart);
  // Device paths ("/dev/ttyUSB0"), in natural order.
  PortListing List() override;
  std::vector<std::string> FallbackNames() const override;
  // From sysfs and /dev/serial/by-id: driver, usb (vendor:product),
  // manufacturer, product, serial, by-id. `name` may be a link to the device.
  std::vector<PortDetail> Details(const std::string& name) const override;
  // From the USB device's idVendor, idProduct and serial in sysfs.
  UsbIdentity UsbIdentityOf(const std::string& name) const override;

 private:
  bool IsRealPort(const std::string& name);
  // The tty's device, past the serial core's own port and controller devices.
  std::string DriverDevice(const std::string& name) const;
  // The USB device above `device` (a DriverDevice), or "" when none is.
  std::string UsbDevice(const std::string& device) const;

  std::string tty_class_dir_;
  std::string dev_dir_;
  UartProbe probe_;
};

}  // namespace brivelton
