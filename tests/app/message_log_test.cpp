#include <gtest/gtest.h>

#include <string>

#include "app/main_dialog.h"
#include "app/message_log.h"
#include "platform/virtual_serial.h"
#include "support/recording_view.h"

namespace brivelton {
namespace {

struct Fixture {
  VirtualClock clock;
  VirtualSerialPorts ports{clock};
  FixedPortList list{{}};
  Platform platform{ports, clock, list};
  testing::RecordingView view;
  MainDialog dialog{view, platform};
};

TEST(MessageLog, LinesAreAppendedExactlyAsFormatted) {
  Fixture f;
  f.dialog.LogLine(" ");
  f.dialog.LogLine(" Fail to write flash add %x\n", 0);
  f.dialog.LogLine(" Found device on %s", "COM3");
  f.dialog.LogLine("");
  f.dialog.LogLine("         WARMING !!! FAILED !!!                       ");
  EXPECT_EQ(f.view.log, (std::vector<std::string>{
                            " ", " Fail to write flash add 0\n", " Found device on COM3",
                            "", "         WARMING !!! FAILED !!!                       "}));
}

TEST(MessageLog, OverlongLineIsCutAt255Characters) {
  Fixture f;
  const std::string long_name(400, 'x');
  f.dialog.LogLine(" Found device on %s", long_name.c_str());
  ASSERT_EQ(f.view.log.size(), 1u);
  EXPECT_EQ(f.view.log[0].size(), 255u);
  EXPECT_EQ(f.view.log[0], (" Found device on " + long_name).substr(0, 255));
}

TEST(MessageLog, TopIndexKeepsNewest23InViewPast25) {
  const std::pair<int, int> cases[] = {{1, -1}, {25, -1}, {26, 3}, {100, 77}};
  for (auto [count, top] : cases) EXPECT_EQ(LogTopIndex(count), top) << count;
}

TEST(MessageLog, TraceGoesToInstalledSinkOnly) {
  std::vector<std::string> seen;
  Trace(" dropped %d", 1);
  SetTraceSink([&](const std::string& line) { seen.push_back(line); });
  Trace(" cmd = %d, loop = %d, readcnt = %d\n", 1, 2, 8);
  SetTraceSink(nullptr);
  Trace(" dropped again");
  EXPECT_EQ(seen, std::vector<std::string>{" cmd = 1, loop = 2, readcnt = 8\n"});
}

}  // namespace
}  // namespace brivelton
