// SPDX-License-Identifier: MIT
#include "platform/timeouts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brivelton {
namespace {

TEST(ReadWindow, EndsAsTheTimeOutModelSays) {
  constexpr uint64_t kStart = 5'000'000;
  constexpr uint32_t kForever = kReadAtOnce;
  struct Case {
    std::string what;
    CommTimeouts timeouts;
    size_t count;
    std::vector<uint64_t> arrivals;  // microseconds after the start
    uint64_t end;                    // after the start; kNoDeadline: none
  };
  const Case cases[] = {
      {"all zero: no end, with or without bytes", {0, 0, 0}, 8, {}, kNoDeadline},
      {"all zero after bytes", {0, 0, 0}, 8, {300, 900}, kNoDeadline},
      {"an endless interval alone: at once", {kForever, 0, 0}, 8, {}, 0},
      {"at once even after a byte", {kForever, 0, 0}, 8, {0}, 0},
      {"an endless interval beside a total: the total", {kForever, 0, 40}, 8, {10'000}, 40'000},
      {"the total: multiplier per byte asked for, plus the constant", {0, 2, 10}, 5, {}, 20'000},
      {"a constant alone", {0, 0, 25}, 5, {1'000}, 25'000},
      {"a multiplier alone", {0, 3, 0}, 4, {}, 12'000},
      {"an interval alone waits for the first byte", {4, 0, 0}, 8, {}, kNoDeadline},
      {"an interval runs from the latest byte", {4, 0, 0}, 8, {1'000, 2'500}, 6'500},
      {"the interval ends it before the total", {1, 1, 1}, 10, {300}, 1'300},
      {"the total ends it before the interval", {50, 0, 20}, 10, {15'000}, 20'000},
      {"the link's own", {1, 1, 1}, 4, {}, 5'000},
  };
  for (const Case& c : cases) {
    ReadWindow window(c.timeouts, c.count, kStart);
    for (uint64_t at : c.arrivals) window.Arrived(kStart + at);
    const uint64_t want = c.end == kNoDeadline ? kNoDeadline : kStart + c.end;
    EXPECT_EQ(window.end_us(), want) << c.what;
  }
}

TEST(ReadWindow, TimeLeftCountsDownToNothingAndNoEndStaysEndless) {
  ReadWindow total({0, 0, 10}, 1, 1'000);
  EXPECT_EQ(total.LeftUs(1'000), 10'000u);
  EXPECT_EQ(total.LeftUs(7'000), 4'000u);
  EXPECT_EQ(total.LeftUs(11'000), 0u);
  EXPECT_EQ(total.LeftUs(50'000), 0u);
  EXPECT_EQ(ReadWindow({0, 0, 0}, 1, 1'000).LeftUs(1u << 30), kNoDeadline);
  EXPECT_EQ(ReadWindow({kReadAtOnce, 0, 0}, 1, 1'000).LeftUs(1'000), 0u);
}

TEST(TotalDeadline, NoneWhenBothTimesAreZeroAndNeverWrapsWhenHuge) {
  EXPECT_EQ(TotalDeadlineUs(7, 0, 4096, 0), kNoDeadline);
  EXPECT_EQ(TotalDeadlineUs(7, 3, 4, 5), 7u + 17'000u);
  // Per-byte times that overflow 64 bits end far ahead, but end.
  for (const size_t count : {size_t{1}, size_t{1} << 20, ~size_t{0}}) {
    const uint64_t end = TotalDeadlineUs(1'000, kReadAtOnce, count, kReadAtOnce);
    EXPECT_GT(end, 1'000u) << count;
    EXPECT_LT(end, kNoDeadline) << count;
  }
}

}  // namespace
}  // namespace brivelton
