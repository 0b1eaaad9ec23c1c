// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>

namespace brivelton {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(uint32_t ms) = 0;
  virtual uint64_t NowMs() = 0;
};

// Real time from the operating system's monotonic clock.
class SystemClock : public Clock {
 public:
  void Sleep(uint32_t ms) override;
  uint64_t NowMs() override;
};

// Time that passes only when someone says so: tests of a silent device or of
// twenty 3-second pauses take no real time.
class VirtualClock : public Clock {
 public:
  void Sleep(uint32_t ms) override { now_us_ += uint64_t{ms} * 1000; }
  uint64_t NowMs() override { return now_us_ / 1000; }
  uint64_t NowUs() const { return now_us_; }
  void AdvanceTo(uint64_t t_us) {
    if (t_us > now_us_) now_us_ = t_us;
  }
  void AdvanceUs(uint64_t us) { now_us_ += us; }

 private:
  uint64_t now_us_ = 0;
};

}  // namespace brivelton
