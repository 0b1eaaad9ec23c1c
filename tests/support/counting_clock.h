// SPDX-License-Identifier: MIT
#pragma once
// Passes virtual time on and remembers every sleep, so a run can be asked how
// many 3-second pauses between update attempts it took.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/clock.h"

namespace brivelton::testing {

class CountingClock : public Clock {
 public:
  explicit CountingClock(VirtualClock& inner) : inner_(inner) {}
  void Sleep(uint32_t ms) override {
    sleeps.push_back(ms);
    inner_.Sleep(ms);
  }
  uint64_t NowMs() override { return inner_.NowMs(); }
  int Count(uint32_t ms) const {
    return static_cast<int>(std::count(sleeps.begin(), sleeps.end(), ms));
  }
  std::vector<uint32_t> sleeps;

 private:
  VirtualClock& inner_;
};

}  // namespace brivelton::testing
