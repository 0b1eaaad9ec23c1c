// SPDX-License-Identifier: MIT
#pragma once
// The time-out model of CommTimeouts, kept once for every backend that keeps
// the time itself (POSIX, the browser, the virtual port on its clock); the
// Win32 backend hands the numbers to the system, whose model this is.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "platform/serial_device.h"

namespace brivelton {

inline constexpr uint64_t kNoDeadline = std::numeric_limits<uint64_t>::max();
// The interval that, with no total, makes a read take what is there.
inline constexpr uint32_t kReadAtOnce = std::numeric_limits<uint32_t>::max();

// start + multiplier * count + constant milliseconds, in microseconds,
// saturating far below kNoDeadline.
uint64_t DeadlineUs(uint64_t start_us, uint32_t multiplier_ms, size_t count,
                    uint32_t constant_ms);
// The same for a total time-out, which a multiplier and a constant both zero
// turn off: kNoDeadline then.
uint64_t TotalDeadlineUs(uint64_t start_us, uint32_t multiplier_ms, size_t count,
                         uint32_t constant_ms);
// Microseconds from `now_us` to `end_us`: 0 once passed, kNoDeadline for none.
uint64_t UsLeft(uint64_t end_us, uint64_t now_us);

// When one read of `count` bytes that began at `start_us` gives up waiting
// for the rest:
//  - an interval of kReadAtOnce and no total: at once, with what is there;
//  - a total: its multiplier * count + constant after the start;
//  - an interval: that long after the latest byte (not before the first);
//  - all zero: never; the read ends with its last byte.
// Whichever of the total and the interval runs out first ends it.
class ReadWindow {
 public:
  ReadWindow(const CommTimeouts& timeouts, size_t count, uint64_t start_us);
  // Bytes came in at `t_us`: the interval runs from there.
  void Arrived(uint64_t t_us);
  // When the read ends unless its last byte comes first; kNoDeadline: never.
  uint64_t end_us() const { return std::min(total_end_us_, interval_end_us_); }
  uint64_t LeftUs(uint64_t now_us) const { return UsLeft(end_us(), now_us); }

 private:
  uint32_t interval_ms_;
  uint64_t total_end_us_;
  uint64_t interval_end_us_ = kNoDeadline;
};

}  // namespace brivelton
