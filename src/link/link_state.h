// SPDX-License-Identifier: MIT
#pragma once
// What the link keeps of its serial port and its last exchange. One record,
// owned by the Link for the life of the process; what is learned of the
// adapter itself is kept apart (AdapterFacts).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/command_kind.h"
#include "platform/serial_device.h"

namespace brivelton {

inline constexpr uint32_t kIdentityPageAddress = 0x7D000;

struct LinkState {
  std::unique_ptr<SerialDevice> port;  // null when closed
  // The found port's name, kept whole: a cut name would reopen the wrong port.
  std::string PortName;
  // The name the open port was opened by.
  std::string OpenPortName;

  std::optional<CommandKind> LastKind;  // none before the first frame

  // The parameter frames' sequence number, one up after each good exchange.
  uint8_t ParamSequence = 1;

  bool is_open() const { return port != nullptr; }
};

}  // namespace brivelton
