// SPDX-License-Identifier: MIT
#pragma once
// Everything the utility knows of its serial link and the adapter behind it.
// One record, owned by the Link for the life of the process.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/bt_address.h"
#include "link/command_kind.h"
#include "platform/serial_device.h"

namespace brivelton {

inline constexpr uint32_t kIdentityPageAddress = 0x7D000;
// Older firmware has no parameters to read or write.
inline constexpr int kFirstVersionWithSettings = 0x200;

struct LinkState {
  std::unique_ptr<SerialDevice> port;  // null when closed
  // The found port's name, kept whole: a cut name would reopen the wrong port.
  std::string PortName;
  // The name the open port was opened by.
  std::string OpenPortName;

  std::array<uint8_t, 64> ReplyBuffer{};
  int ReceivedCount = 0;
  // How many bytes at the start of ReplyBuffer came from the last reply; the
  // rest are left over from earlier ones.
  int ReplyFresh = 0;
  int ExpectedCount = 0;
  std::optional<CommandKind> LastKind;  // none before the first frame

  // The parameter frames' sequence number, one up after each good exchange.
  uint8_t ParamSequence = 1;

  int DeviceVersion = 0;
  std::array<char, 3> VersionChars = {'0', '0', '0'};

  BtAddressBytes BtAddress = kDefaultBtAddress;
  // Whether this update's attempts have read the identity page.
  bool IdentityRead = false;

  bool is_open() const { return port != nullptr; }
};

}  // namespace brivelton
