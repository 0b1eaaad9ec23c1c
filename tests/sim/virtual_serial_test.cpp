// SPDX-License-Identifier: MIT
#include "sim/virtual_serial.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/timeouts.h"

namespace brivelton {
namespace {

// A read on the virtual port takes the bytes a real port would have by the
// time its time-outs end, and leaves the clock where that read would return.
TEST(VirtualSerial, ReadsWaitOnTheClockAsTheTimeOutsSay) {
  struct Case {
    std::string what;
    CommTimeouts timeouts;
    std::vector<uint64_t> arrivals;  // microseconds, one byte each
    size_t asked;
    size_t got;
    uint64_t clock_after;
  };
  const Case cases[] = {
      {"all zero: waits for every byte asked for", {0, 0, 0}, {2'000, 5'000, 9'000}, 2, 2, 5'000},
      {"all zero: ends with the last byte there is", {0, 0, 0}, {2'000}, 4, 1, 2'000},
      {"all zero and nothing coming", {0, 0, 0}, {}, 4, 0, 0},
      {"at once: only what is there", {kReadAtOnce, 0, 0}, {0, 3'000}, 4, 1, 0},
      {"at once and nothing there", {kReadAtOnce, 0, 0}, {3'000}, 4, 0, 0},
      {"the link's: a pause between bytes ends it", {1, 1, 1}, {100, 200, 20'000}, 10, 2, 1'200},
      {"the link's: all asked for", {1, 1, 1}, {100, 200, 300}, 3, 3, 300},
      {"the link's: silence waits out the total", {1, 1, 1}, {}, 10, 0, 11'000},
      {"a total alone", {0, 0, 10}, {1'000, 4'000, 30'000}, 5, 2, 10'000},
      {"an interval alone waits for the first byte", {2, 0, 0}, {8'000, 9'000, 12'000}, 5, 2, 11'000},
      {"an interval alone and nothing coming", {2, 0, 0}, {}, 5, 0, 0},
  };
  for (const Case& c : cases) {
    VirtualClock clock;
    VirtualSerialPorts ports(clock);
    VirtualLine& line = ports.AddPort("COM9", nullptr);
    auto port = ports.Open("COM9", nullptr);
    ASSERT_TRUE(port) << c.what;
    ASSERT_TRUE(port->SetTimeouts(c.timeouts)) << c.what;
    uint8_t value = 0x41;
    for (uint64_t at : c.arrivals) line.SendToHost(at, value++, line.host_baud());
    std::vector<uint8_t> buffer(c.asked);
    size_t got = 0;
    ASSERT_TRUE(port->Read(buffer, got)) << c.what;
    EXPECT_EQ(got, c.got) << c.what;
    for (size_t i = 0; i < got; ++i) EXPECT_EQ(buffer[i], 0x41 + i) << c.what;
    EXPECT_EQ(clock.NowUs(), c.clock_after) << c.what;
  }
}

}  // namespace
}  // namespace brivelton
