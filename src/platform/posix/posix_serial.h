// SPDX-License-Identifier: MIT
#pragma once
// Serial ports of a POSIX system through termios, behaving like the Windows
// model the link is written against: exclusive open, a raw 8-bit line, and
// reads and writes bounded by the interval / total time-outs.
#include <termios.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial_device.h"

namespace brivelton {

class PosixSerialPorts : public SerialPorts {
 public:
  // `name` is a device path such as "/dev/ttyUSB0".
  std::unique_ptr<SerialDevice> Open(const std::string& name,
                                     OpenError* error) override;
  std::string GroupToJoin(const std::string& name) override;
};

// The termios code of `baud`; false when this system names none. And the
// speed a code stands for, 0 for none.
bool SpeedCodeForBaud(uint32_t baud, speed_t& code);
uint32_t BaudForSpeedCode(speed_t code);

// Clears exclusive mode on every port this process holds open and closes
// them, for a process about to end at once. Async-signal-safe; the devices
// must not be used afterwards.
void ReleaseHeldPorts();

}  // namespace brivelton
