#pragma once
// The host's own code path (MainDialog on the virtual port) against one
// simulated adapter, in virtual time.
#include <gtest/gtest.h>

#include <vector>

#include "app/main_dialog.h"
#include "platform/virtual_serial.h"
#include "sim/virtual_adapter.h"
#include "support/recording_view.h"

namespace brivelton::testing {

struct SimBench {
  explicit SimBench(sim::AdapterConfig config = {})
      : adapter(ports, "COM3", std::move(config)) {
    dialog.link().PortName = "COM3";
  }

  LinkState& link() { return dialog.link(); }
  sim::DeviceModel& model() { return adapter.model(); }
  int Open() { return dialog.ReopenFoundPort(); }
  int Ask(int kind) { return dialog.Exchange(kind); }
  int Received() const { return dialog.link().ReceivedCount; }
  // Byte `i` of the last reply (the first 64 are kept).
  uint8_t Reply(size_t i) const { return dialog.link().ReplyBuffer[i]; }

  // Running firmware to boot loader, both ends at 1,000,000 baud.
  void EnterBootLoader() {
    ASSERT_EQ(Open(), 1);
    ASSERT_EQ(Ask(LinkCheck), 1);
    ASSERT_EQ(Ask(BootHandshake), 1);
    ASSERT_EQ(Ask(SetBaud1M), 1);
    ASSERT_EQ(dialog.ConfigurePort(1000000), 1);
  }
  void Unlock() {
    for (int kind : {FlashReadStatus, FlashWriteStatus, FlashReadStatus}) ASSERT_EQ(Ask(kind), 1);
  }
  int Erase(int block) {
    link().EraseBlock = block;
    return Ask(FlashErase);
  }
  int WritePage(int n) {
    link().PageIndex = n;
    return Ask(FlashWritePage);
  }
  // The reset pair at `baud`, then long enough for the adapter to be back.
  void Restart(uint32_t baud) {
    dialog.ConfigurePort(baud);
    Ask(ResetStepA);
    Ask(ResetStepB);
    clock.AdvanceUs(model().config().timing.restart_us + 10'000);
    dialog.ConfigurePort(115200);
  }
  // Bytes still arriving after the last reply.
  size_t Stray() {
    clock.AdvanceUs(50'000);
    std::array<uint8_t, 64> buffer;
    size_t got = 0;
    if (link().port) link().port->Read(buffer, got);
    return got;
  }
  std::vector<int> Kinds(size_t from = 0) {
    std::vector<int> kinds;
    const auto& frames = model().frames();
    for (size_t i = from; i < frames.size(); ++i) kinds.push_back(frames[i].kind);
    return kinds;
  }

  VirtualClock clock;
  VirtualSerialPorts ports{clock};
  FixedPortList list{{"COM3"}};
  Platform platform{ports, clock, list};
  RecordingView view;
  // Declared before the dialog: the dialog's open port calls back into it
  // when it closes.
  sim::VirtualAdapter adapter;
  MainDialog dialog{view, platform};
};

}  // namespace brivelton::testing
