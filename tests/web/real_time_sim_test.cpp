// SPDX-License-Identifier: MIT
#include "web/real_time_sim.h"

#include <gtest/gtest.h>

#include "app/main_dialog.h"
#include "app/protocol_stack.h"
#include "sim/virtual_adapter.h"
#include "sim/virtual_serial.h"
#include "support/recording_view.h"

namespace brivelton::web {
namespace {

// The page's clock, stepped by hand: a sleep passes exactly its time.
class PageClock : public Clock {
 public:
  void Sleep(uint32_t ms) override { now += ms; }
  uint64_t NowMs() override { return now; }
  uint64_t now = 50'000;
};

struct Outcome {
  std::vector<std::string> log;
  std::vector<bool> results;
};

Outcome CheckAndUpdate(Platform platform) {
  testing::RecordingView view;
  ProtocolStack stack(platform, view.sink());
  MainDialog dialog(view, stack);
  dialog.OnCheckDevice();
  dialog.OnUpdateFirmware();
  return {view.log, view.results};
}

TEST(RealTimeSim, AnUpdateSaysWhatItSaysOnVirtualTimeAndTakesAsLongOnThePagesClock) {
  VirtualClock virtual_clock;
  VirtualSerialPorts virtual_ports(virtual_clock);
  sim::VirtualAdapter adapter(virtual_ports, kSimulatedPortName);
  FixedPortList list({kSimulatedPortName});
  const Outcome expected = CheckAndUpdate({virtual_ports, virtual_clock, list});

  PageClock page;
  const uint64_t start = page.now;
  RealTimeSim sim({}, page);
  const Outcome paced = CheckAndUpdate({sim.ports(), sim.clock(), sim.port_list()});

  EXPECT_EQ(paced.log, expected.log);
  EXPECT_EQ(paced.results, std::vector<bool>{true});
  // The page waited as long as the adapter worked, to within the slack a
  // browser's timers need, and never ran ahead of it.
  const uint64_t simulated_ms = virtual_clock.NowMs();
  const uint64_t waited_ms = page.now - start;
  EXPECT_GT(simulated_ms, 5'000u);
  EXPECT_LE(waited_ms, sim.clock().NowMs());
  EXPECT_GE(waited_ms + 5, sim.clock().NowMs());
  EXPECT_NEAR(double(sim.clock().NowMs()), double(simulated_ms), simulated_ms * 0.02);
}

TEST(RealTimeSim, TimeThePageSpendsElsewherePassesForTheAdapterToo) {
  PageClock page;
  RealTimeSim sim({}, page);
  const uint64_t before = sim.clock().NowMs();
  page.now += 7'000;  // the user read a dialog
  EXPECT_EQ(sim.clock().NowMs(), before + 7'000);
  // A sleep of the protocol is a sleep of the page.
  const uint64_t page_before = page.now;
  sim.clock().Sleep(300);
  EXPECT_EQ(page.now - page_before, 300u);
  EXPECT_EQ(sim.clock().NowMs(), before + 7'300);
}

}  // namespace
}  // namespace brivelton::web
