// SPDX-License-Identifier: MIT
#pragma once
// The host's own code path (the link on the virtual port) against one
// simulated adapter, in virtual time.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/host_bench.h"
#include "update/identity_page.h"

namespace brivelton::testing {

struct SimBench : HostBench {
  using enum CommandKind;

  explicit SimBench(sim::AdapterConfig config = {}) : adapter(Adapter(std::move(config))) {}

  sim::DeviceModel& model() { return adapter.model(); }
  bool Open() { return link.ReopenFoundPort(); }
  // One exchange with `args`; page writes carry the built-in image's page or
  // the identity page.
  bool Ask(CommandKind kind) {
    FrameArgs with = args;
    const auto identity = BuildIdentityPage(facts().BtAddress);
    if (kind == FlashWritePage) with.page = BuiltInImage().Page(args.page_index);
    if (kind == WriteIdentityPage) with.page = identity;
    last = link.Exchange(kind, with);
    return last.ok;
  }
  int Received() const { return last.received; }
  // Byte `i` of the last reply (the first 64 are kept; 0 past what came).
  uint8_t Reply(size_t i) const { return last.start.at(i); }
  // The last reply's start as text.
  std::string Text() const {
    const auto bytes = last.bytes();
    return std::string(bytes.begin(), bytes.end());
  }

  // Running firmware to boot loader, both ends at 1,000,000 baud.
  void EnterBootLoader() {
    ASSERT_EQ(Open(), 1);
    ASSERT_EQ(Ask(LinkCheck), 1);
    ASSERT_EQ(Ask(BootHandshake), 1);
    ASSERT_EQ(Ask(SetBaud1M), 1);
    ASSERT_EQ(link.ConfigurePort(kBootLoaderBaud), 1);
  }
  void Unlock() {
    for (auto kind : {FlashReadStatus, FlashWriteStatus, FlashReadStatus}) ASSERT_EQ(Ask(kind), 1);
  }
  bool Erase(int block) {
    args.erase_block = block;
    return Ask(FlashErase);
  }
  bool WritePage(int n) {
    args.page_index = n;
    return Ask(FlashWritePage);
  }
  // The reset pair at `baud`, then long enough for the adapter to be back.
  void Restart(uint32_t baud) {
    link.ConfigurePort(baud);
    Ask(ResetStepA);
    Ask(ResetStepB);
    clock.AdvanceUs(model().config().timing.restart_us + 10'000);
    link.ConfigurePort(kFirmwareBaud);
  }
  // Bytes still arriving after the last reply.
  size_t Stray() {
    clock.AdvanceUs(50'000);
    std::array<uint8_t, 64> buffer;
    size_t got = 0;
    if (state().port) state().port->Read(buffer, got);
    return got;
  }
  std::vector<std::optional<CommandKind>> Kinds(size_t from = 0) {
    std::vector<std::optional<CommandKind>> kinds;
    const auto& frames = model().frames();
    for (size_t i = from; i < frames.size(); ++i) kinds.push_back(frames[i].kind);
    return kinds;
  }

  sim::VirtualAdapter& adapter;
  // What the frames carry; the sequence starts where a fresh link's does.
  FrameArgs args{.param_sequence = 1};
  // What the last Ask brought back.
  brivelton::Reply last;
};

}  // namespace brivelton::testing
