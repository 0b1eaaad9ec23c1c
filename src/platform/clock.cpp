// SPDX-License-Identifier: MIT
#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace brivelton {

void SystemClock::Sleep(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t SystemClock::NowMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace brivelton
