// SPDX-License-Identifier: MIT
#pragma once
// The serial link: the one port the utility holds, opened, set up and closed
// here, and the exchange of one command for one reply with its retry rules.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/frames.h"
#include "link/link_state.h"
#include "log/message_log.h"
#include "platform/clock.h"
#include "platform/serial_device.h"

namespace brivelton {

// The running firmware talks at the low speed, its boot loader at the high one.
inline constexpr uint32_t kFirmwareBaud = 115200;
inline constexpr uint32_t kBootLoaderBaud = 1000000;

// What one command brought back.
struct Reply {
  // How many of its first bytes a reply keeps.
  static constexpr size_t kKept = 64;

  // Whether it came as its kind requires: whole, or short where the kind
  // takes that (most do; a page read does not).
  bool ok = false;
  int expected = 0;  // the length of the kind's reply; 0 for none
  int received = 0;  // how many bytes arrived in all; 0 when none came
  // Its first bytes, as far as its first chunk delivered them.
  std::array<uint8_t, kKept> start{};
  size_t kept = 0;

  std::span<const uint8_t> bytes() const { return std::span(start).first(kept); }
  // Whether every byte of its kind's reply came (or none was expected).
  bool whole() const { return ok && received == expected; }
  explicit operator bool() const { return ok; }
};

class Link {
 public:
  Link(SerialPorts& ports, Clock& clock, MessageLog& log);
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Serial port access; true when done.
  bool ConfigurePort(uint32_t baud);
  bool ArmPortEvents();
  void ClosePort();
  bool ReopenFoundPort();

  // Command exchange. SendFrame returns the reply length to wait for, none
  // when the frame could not be written; Exchange the reply, judged by its
  // kind; ReadReply what arrived of `expected` bytes (judged by nobody).
  std::optional<int> SendFrame(CommandKind kind, const FrameArgs& args = {});
  Reply Exchange(CommandKind kind, const FrameArgs& args = {});
  Reply ReadReply(int expected);
  // Whether the last Exchange failed because its frame could not be written:
  // the port is gone (unplugged) rather than the adapter silent.
  bool write_failed() const { return write_failed_; }

  LinkState& state() { return state_; }
  const LinkState& state() const { return state_; }
  SerialPorts& ports() { return ports_; }
  Clock& clock() { return clock_; }
  MessageLog& log() { return log_; }

 private:
  SerialPorts& ports_;
  Clock& clock_;
  MessageLog& log_;
  LinkState state_;
  std::vector<uint8_t> frame_;
  bool write_failed_ = false;
  // The port whose slow bridge the log has named already: once is enough.
  std::string slow_bridge_noted_;
};

// Open `name`, or accept the port already open.
bool OpenPort(LinkState& link, SerialPorts& ports, MessageLog& log, const std::string& name,
              OpenError* error = nullptr);

}  // namespace brivelton
