// SPDX-License-Identifier: MIT
#pragma once
// How long Check Device, Update Firmware and Setting may take on virtual
// time, from the exchange rules alone, whatever the adapter answers: the
// fault matrix and the fuzz targets hold every run to these.
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "link/frames.h"

namespace brivelton {

// Two attempts, each reading every chunk, and one more chunk for a reply that
// trickles in, with every read running out its time-out and its pause.
inline uint64_t ExchangeBoundMs(CommandKind kind) {
  using enum CommandKind;
  if (kind == HandshakeBurstLong) return 101 * 4;
  if (kind == HandshakeBurstShort) return 11 * 4;
  const uint64_t reads = kind == FlashChecksum ? 100 : kind == FlashErase ? 30 : 10;
  const int expected = ExpectedReplyLength(kind);
  uint64_t attempt = 0;
  for (int left = expected; left > 0; left -= 256) attempt += reads * (std::min(256, left) + 11);
  if (expected > 0) attempt += reads * (std::min(256, expected) + 11);
  return 2 * attempt;
}

inline uint64_t SumMs(std::initializer_list<std::pair<CommandKind, int>> kinds_and_counts) {
  uint64_t sum = 0;
  for (auto [kind, count] : kinds_and_counts) sum += uint64_t(count) * ExchangeBoundMs(kind);
  return sum;
}

inline uint64_t RestartBoundMs() {
  return SumMs({{CommandKind::ResetStepA, 2}, {CommandKind::ResetStepB, 2}});
}

// Both ports probed (link check, restart, link check), then ten version queries.
inline uint64_t CheckBoundMs(int ports) {
  using enum CommandKind;
  return uint64_t(ports) * (SumMs({{LinkCheck, 2}}) + RestartBoundMs()) + SumMs({{QueryVersion, 10}});
}

// Twenty attempts that each go as far as an attempt can, the pauses between
// them, and the restart at the end.
inline uint64_t UpdateBoundMs() {
  using enum CommandKind;
  const uint64_t attempt =
      SumMs({{LinkCheck, 2}, {BootHandshake, 2}, {HandshakeBurstLong, 1},
             {HandshakeBurstShort, 1}, {SetBaud1M, 1}, {FlashReadPage, 2},
             {FlashReadStatus, 2}, {FlashWriteStatus, 1}, {FlashErase, 30},
             {FlashWritePage, 125}, {WriteIdentityPage, 1}, {FlashChecksum, 1},
             // the identity page read back after the checksum
             {FlashReadPage, 2}}) +
      RestartBoundMs();
  return 20 * attempt + 19 * 3000 + RestartBoundMs();
}

inline uint64_t SettingsBoundMs() {
  return SumMs({{CommandKind::ParamRead, 10}, {CommandKind::ParamWrite, 10}});
}

}  // namespace brivelton
