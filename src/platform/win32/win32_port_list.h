// SPDX-License-Identifier: MIT
#pragma once
// The system's serial ports as the registry lists them.
#include <string>
#include <vector>

#include "platform/port_list.h"

namespace brivelton {

class Win32RegistryPortList : public PortList {
 public:
  // One entry per value of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, in the
  // registry's order; a value that cannot be read or holds no name is empty.
  PortListing List() override;
  std::vector<std::string> FallbackNames() const override;
  // "device": the name of the registry value that lists the port
  // ("\\Device\\Serial0", "\\Device\\VCP0"), which tells the driver.
  // Then "usb" (vendor:product) and "serial" of a USB port.
  std::vector<PortDetail> Details(const std::string& name) const override;
  // From the device manager: the port whose PortName is `name`, and the USB
  // device it sits on.
  UsbIdentity UsbIdentityOf(const std::string& name) const override;
};

}  // namespace brivelton
