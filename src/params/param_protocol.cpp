// SPDX-License-Identifier: MIT
// Reading and writing one adapter parameter with the "XS" frames.
#include <algorithm>
#include <span>

#include "params/parameters.h"

namespace brivelton {

namespace {
constexpr int kParamReplySize = 10;
// A reply: "XS", then 07 at +2, EE at +4 and the value, least significant
// byte first, at +6 to +9.
constexpr uint8_t kMarker0 = 0x58;  // 'X'
constexpr uint8_t kMarker1 = 0x53;  // 'S'
constexpr int kAckOffset = 2;
constexpr uint8_t kAck = 0x07;
constexpr int kStatusOffset = 4;
constexpr uint8_t kStatusOk = 0xEE;
constexpr int kValueOffset = 6;
constexpr int kValueLast = kValueOffset + 3;

uint32_t Le32(std::span<const uint8_t> bytes, int at) {
  return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 |
         uint32_t{bytes[at + 2]} << 16 | uint32_t{bytes[at + 3]} << 24;
}
}  // namespace

Parameters::Parameters(Link& link, const AdapterFacts& facts)
    : link_(link), state_(link.state()), facts_(facts), log_(link.log()) {}

std::optional<uint32_t> Parameters::ReadParameter(int op) {
  const Reply answer = link_.Exchange(
      CommandKind::ParamRead,
      {.param_sequence = state_.ParamSequence, .param_op = static_cast<uint8_t>(op)});
  if (!answer) {
    log_.Trace(" Fail read op %d", op);
    return std::nullopt;
  }
  ++state_.ParamSequence;
  if (!answer.whole()) {
    log_.Trace(" read count not correct, need to stop the read");
    link_.ClosePort();
    return std::nullopt;
  }
  // Indexed within the kept start whatever came; the marker and the value
  // only count within what this reply delivered (zeros follow it).
  const auto& reply = answer.start;
  const int n = answer.received;
  const int fresh = static_cast<int>(std::min(answer.kept, size_t{kParamReplySize}));
  std::optional<uint32_t> result;
  int i = 0;
  while (i <= fresh - 2 && !(reply[i] == kMarker0 && reply[i + 1] == kMarker1)) ++i;
  if (i > fresh - 2) {
    log_.Trace(" Read error %02x %02x %02x %02x %02x", reply[0], reply[1], reply[2],
               reply[3], reply[4]);
  } else if (reply[i + kAckOffset] != kAck || reply[i + kStatusOffset] != kStatusOk) {
    log_.Trace(" ACK error %02x %02x", reply[i + kAckOffset], reply[i + kAckOffset + 1]);
  } else if (i + kValueLast < fresh) {
    result = Le32(reply, i + kValueOffset);
    log_.Trace(" retval = %d", static_cast<int>(*result));
  } else {
    log_.Trace(" Size error %d %d", i, n);
  }
  log_.Trace(" ==> done. get %d", static_cast<int>(result.value_or(kParamError)));
  return result;
}

bool Parameters::WriteParameter(int op, uint32_t value) {
  if (!link_.Exchange(CommandKind::ParamWrite, {.param_sequence = state_.ParamSequence,
                                                .param_op = static_cast<uint8_t>(op),
                                                .param_value = value})) {
    log_.Trace(" Fail write op %d", op);
    return false;
  }
  ++state_.ParamSequence;
  log_.Trace(" set op %d = %d", op, static_cast<int>(value));
  return true;
}

}  // namespace brivelton
