#pragma once
// Serial ports of a POSIX system through termios, behaving like the Windows
// model the link is written against: exclusive open, a raw 8-bit line, and
// reads and writes bounded by the interval / total time-outs.
#include <memory>
#include <string>

#include "platform/serial_device.h"

namespace brivelton {

class PosixSerialPorts : public SerialPorts {
 public:
  // `name` is a device path such as "/dev/ttyUSB0".
  std::unique_ptr<SerialDevice> Open(const std::string& name,
                                     OpenError* error) override;
};

}  // namespace brivelton
