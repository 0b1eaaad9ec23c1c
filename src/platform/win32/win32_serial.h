// SPDX-License-Identifier: MIT
#pragma once
// Serial ports of Windows through the communications API.
#include <memory>
#include <string>

#include "platform/serial_device.h"

namespace brivelton {

class Win32SerialPorts : public SerialPorts {
 public:
  // `name` as the system lists it ("COM3"); opened through the device
  // namespace so that COM10 and above open too.
  std::unique_ptr<SerialDevice> Open(const std::string& name,
                                     OpenError* error) override;
};

}  // namespace brivelton
