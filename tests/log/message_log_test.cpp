// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/message_log.h"

namespace brivelton {
namespace {

struct Fixture {
  std::vector<std::string> lines;
  std::vector<std::string> traces;
  MessageLog log{[this](const std::string& line) { lines.push_back(line); },
                 [this](const std::string& line) { traces.push_back(line); }};
};

TEST(MessageLog, LinesAreAppendedExactlyAsFormatted) {
  Fixture f;
  f.log.LogLine(" ");
  f.log.LogLine(" Fail to write flash add %x\n", 0);
  f.log.LogLine(" Found device on %s", "COM3");
  f.log.LogLine("%s", "");
  f.log.LogLine("         WARMING !!! FAILED !!!                       ");
  EXPECT_EQ(f.lines, (std::vector<std::string>{
                         " ", " Fail to write flash add 0\n", " Found device on COM3", "",
                         "         WARMING !!! FAILED !!!                       "}));
  EXPECT_TRUE(f.traces.empty());
}

TEST(MessageLog, OverlongLineIsCutAt255Characters) {
  Fixture f;
  const std::string long_name(400, 'x');
  f.log.LogLine(" Found device on %s", long_name.c_str());
  f.log.Trace(" Fail read op %s", long_name.c_str());
  ASSERT_EQ(f.lines.size(), 1u);
  EXPECT_EQ(f.lines[0], (" Found device on " + long_name).substr(0, 255));
  ASSERT_EQ(f.traces.size(), 1u);
  EXPECT_EQ(f.traces[0].size(), 255u);
}

TEST(MessageLog, TopIndexKeepsNewest23InViewPast25) {
  const std::pair<int, int> cases[] = {{1, -1}, {25, -1}, {26, 3}, {100, 77}};
  for (auto [count, top] : cases) EXPECT_EQ(LogTopIndex(count), top) << count;
}

TEST(MessageLog, TraceGoesToItsOwnLogsSinkOnly) {
  Fixture f;
  MessageLog silent;  // no sinks: both channels are dropped
  silent.Trace(" dropped %d", 1);
  silent.LogLine(" dropped too");
  f.log.Trace(" cmd = %d, loop = %d, readcnt = %d\n", 1, 2, 8);
  EXPECT_EQ(f.traces, std::vector<std::string>{" cmd = 1, loop = 2, readcnt = 8\n"});
  EXPECT_TRUE(f.lines.empty());
}

}  // namespace
}  // namespace brivelton
