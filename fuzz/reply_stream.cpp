// SPDX-License-Identifier: MIT
#include "reply_stream.h"

#include <algorithm>

#include "link/frames.h"
#include "resources/firmware_image.h"
#include "update/identity_page.h"

namespace brivelton::fuzz {

using enum CommandKind;

std::vector<uint8_t> ReplyStream::Take(size_t n) {
  n = std::min(n, input_.size() - std::min(pos_, input_.size()));
  std::vector<uint8_t> bytes(input_.begin() + static_cast<long>(pos_),
                             input_.begin() + static_cast<long>(pos_ + n));
  pos_ += n;
  return bytes;
}

void ReplyStream::OnHostBytes(VirtualLine& line, std::span<const uint8_t> bytes,
                              std::span<const uint64_t> arrival_us, uint32_t baud) {
  if (!link_.LastKind) return;
  const CommandKind kind = *link_.LastKind;
  const int expected = ExpectedReplyLength(kind);
  ++writes_[KindNumber(kind) & 31];
  std::vector<uint8_t> reply;
  uint64_t delay_us = kLatencyUs;
  if (used_up()) {
    // The adapter is gone: a failing update ends in silence, quickly.
  } else if (fuzzed_ && !fuzzed_(kind)) {
    // Good enough for every rule that looks at content: an event header,
    // zeros, the image's checksum, a page that carries the name.
    reply.assign(static_cast<size_t>(expected), 0x00);
    if (expected >= 2) reply[0] = 0x04, reply[1] = 0x0E;
    if (kind == FlashChecksum) {
      const auto& sum = BuiltInImage().checksum();
      std::copy(sum.begin(), sum.end(), reply.begin() + 7);
    } else if (kind == FlashReadPage && writes_[KindNumber(WriteIdentityPage) & 31] > 0) {
      // The page as written, so that the read-back after the checksum holds.
      const auto page = BuildIdentityPage(facts_.BtAddress);
      const size_t n = std::min(page.size(), reply.size() - std::min(reply.size(), size_t{15}));
      std::copy_n(page.begin(), n, reply.begin() + 15);
    } else if (kind == FlashReadPage) {
      reply[21] = 'B';
      reply[22] = 'r';
    }
  } else {
    const uint8_t c = Next();
    if (c < kPadSlice) {
      reply = Take(c);
    } else if (c < kLateSlice) {
      reply = Take(c - kPadSlice);
      const int extra = static_cast<int8_t>(Next());
      const int length = std::max(expected + extra, 0);
      if (static_cast<int>(reply.size()) < length) reply.resize(static_cast<size_t>(length), 0xFF);
    } else if (c < kNoReply) {
      reply = Take(c - kLateSlice);
      delay_us += uint64_t{Next()} * 5000;
    }
  }
  last_[KindNumber(kind) & 31] = reply;
  sent_.insert(sent_.end(), reply.begin(), reply.end());
  if (bytes.empty()) return;
  uint64_t t = std::max(arrival_us.back(), line.host_bound_free_us()) + delay_us;
  for (uint8_t b : reply) {
    t += WireTimeUs(1, baud);
    line.SendToHost(t, b, baud);
  }
}

}  // namespace brivelton::fuzz
