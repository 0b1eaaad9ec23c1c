// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/link_fixture.h"

namespace brivelton {
namespace {

using testing::LinkFixture;

TEST(SerialPort, OpenAcceptsThePortAlreadyOpen) {
  LinkFixture f;
  f.virtual_ports.AddPort("COM5", nullptr);
  ASSERT_EQ(OpenPort(f.link.state(), f.ports, f.log, "COM3"), 1);
  EXPECT_EQ(OpenPort(f.link.state(), f.ports, f.log, "COM5"), 1);
  EXPECT_EQ(f.ports.opened, std::vector<std::string>{"COM3"});
  EXPECT_TRUE(f.line->host_open());
}

TEST(SerialPort, FailedOpenLeavesThePortClosedAndSaysWhy) {
  LinkFixture f;
  OpenError why = OpenError::kNone;
  EXPECT_EQ(OpenPort(f.link.state(), f.ports, f.log, "COM9", &why), 0);
  EXPECT_EQ(why, OpenError::kNotFound);
  EXPECT_FALSE(f.link.state().is_open());
  f.line->set_busy(true);
  EXPECT_EQ(OpenPort(f.link.state(), f.ports, f.log, "COM3", &why), 0);
  EXPECT_EQ(why, OpenError::kBusy);
  EXPECT_TRUE(f.view.log.empty());
}

TEST(SerialPort, ClosedPortOperations) {
  LinkFixture f;
  EXPECT_EQ(f.link.ConfigurePort(115200), 0);
  EXPECT_EQ(f.link.ArmPortEvents(), 0);
  f.link.ClosePort();
  f.link.ClosePort();
  EXPECT_EQ(f.ports.purges, 0);
  EXPECT_TRUE(f.view.log.empty());
  f.link.state().PortName.clear();
  EXPECT_EQ(f.link.ReopenFoundPort(), 0);
  EXPECT_EQ(f.ports.opened, std::vector<std::string>{""});
}

TEST(SerialPort, ReopenSetsTheLineAndClosePurges) {
  LinkFixture f;
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  EXPECT_EQ(f.line->host_baud(), 115200u);
  ASSERT_EQ(f.link.ConfigurePort(1000000), 1);
  EXPECT_EQ(f.line->host_baud(), 1000000u);
  f.line->SendToHost(f.clock.NowUs() + 50, 0x42, 1000000);
  f.link.ClosePort();
  // The virtual line drops unread bytes with the port anyway; a real one may not.
  EXPECT_EQ(f.ports.purges, 1);
  EXPECT_FALSE(f.line->host_open());
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  EXPECT_EQ(f.link.ReadReply(1).received, 0);
}

TEST(SerialPort, ConfigureFailuresAreLoggedAndOnlyTimeoutsFail) {
  struct Case {
    testing::PortFaults faults;
    int configure;
    int arm;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {{.get_state = true}, 1, 1, {"    Error! in GetCommState()"}},
      {{.set_state = true}, 1, 1, {"    Error! in Setting DCB Structure"}},
      {{.get_state = true, .set_state = true},
       1,
       1,
       {"    Error! in GetCommState()", "    Error! in Setting DCB Structure"}},
      {{.set_timeouts = true}, 0, 1, {"    Error! in Setting Time Outs"}},
      {{.set_event_mask = true}, 1, 0, {"    Error! in Setting CommMask"}},
  };
  for (const auto& c : cases) {
    LinkFixture f;
    f.ports.faults = c.faults;
    ASSERT_EQ(OpenPort(f.link.state(), f.ports, f.log, "COM3"), 1);
    EXPECT_EQ(f.link.ConfigurePort(115200), c.configure);
    EXPECT_EQ(f.link.ArmPortEvents(), c.arm);
    EXPECT_EQ(f.view.log, c.log);
    EXPECT_TRUE(f.link.state().is_open());  // a failed setup leaves the port open
    EXPECT_EQ(f.link.ReopenFoundPort(), c.configure && c.arm ? 1 : 0);
  }
}

}  // namespace
}  // namespace brivelton
