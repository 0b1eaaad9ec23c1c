// SPDX-License-Identifier: MIT
#include "platform/timeouts.h"

#include <algorithm>

namespace brivelton {

uint64_t DeadlineUs(uint64_t start_us, uint32_t multiplier_ms, size_t count,
                    uint32_t constant_ms) {
  constexpr uint64_t kMax = kNoDeadline / 2000;
  const uint64_t per_byte = count > kMax / (multiplier_ms ? multiplier_ms : 1)
                                ? kMax
                                : uint64_t{multiplier_ms} * count;
  const uint64_t ms = std::min(kMax, per_byte + constant_ms);
  return start_us + ms * 1000;
}

uint64_t TotalDeadlineUs(uint64_t start_us, uint32_t multiplier_ms, size_t count,
                         uint32_t constant_ms) {
  if (!multiplier_ms && !constant_ms) return kNoDeadline;
  return DeadlineUs(start_us, multiplier_ms, count, constant_ms);
}

uint64_t UsLeft(uint64_t end_us, uint64_t now_us) {
  if (end_us == kNoDeadline) return kNoDeadline;
  return now_us >= end_us ? 0 : end_us - now_us;
}

ReadWindow::ReadWindow(const CommTimeouts& t, size_t count, uint64_t start_us)
    : interval_ms_(t.read_interval_ms),
      total_end_us_(TotalDeadlineUs(start_us, t.read_total_multiplier_ms, count,
                                    t.read_total_constant_ms)) {
  if (t.read_interval_ms == kReadAtOnce && total_end_us_ == kNoDeadline) total_end_us_ = start_us;
}

void ReadWindow::Arrived(uint64_t t_us) {
  if (interval_ms_) interval_end_us_ = DeadlineUs(t_us, 0, 0, interval_ms_);
}

}  // namespace brivelton
