// SPDX-License-Identifier: MIT
// The simulated adapter as the utility meets it: the host's own exchange code
// on the virtual port, in virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <cstring>
#include <string>
#include <vector>

#include "sim/device_model.h"
#include "sim_bench.h"
#include "resources/checksum.h"
#include "resources/firmware_image.h"
#include "update/identity_page.h"

namespace brivelton::testing {
namespace {

using enum CommandKind;
using KindList = std::vector<std::optional<CommandKind>>;

using sim::Mode;
using Bytes = std::vector<uint8_t>;

bool FlashEquals(const sim::DeviceModel& model, size_t at, std::span<const uint8_t> want) {
  const auto flash = model.flash();
  return at + want.size() <= flash.size() && std::equal(want.begin(), want.end(), flash.begin() + static_cast<long>(at));
}

TEST(SimAdapter, EveryReplyHasTheCatalogueLengthAndNoMore) {
  SimBench b;
  ASSERT_EQ(b.Open(), 1);
  b.args.param_op = 1;
  b.args.read_address = kIdentityPageAddress;
  for (CommandKind kind : {LinkCheck, QueryVersion, ParamRead, ParamWrite, BootHandshake}) {
    SCOPED_TRACE(KindName(kind));
    ASSERT_EQ(b.Ask(kind), 1);
    EXPECT_EQ(b.Received(), ExpectedReplyLength(kind));
    EXPECT_EQ(b.Stray(), 0u);
  }
  ASSERT_EQ(b.model().mode(), Mode::kBootLoader);
  ASSERT_EQ(b.Ask(SetBaud1M), 1);
  EXPECT_EQ(b.Received(), 12);
  EXPECT_FALSE(b.Reply(0) == 0x04 && b.Reply(1) == 0x0E && b.Reply(2) == 0x05);
  EXPECT_EQ(b.model().line_baud(), 1000000u);
  b.link.ConfigurePort(1000000);
  for (auto kind : {LinkCheck, BootHandshake, FlashReadStatus, FlashWriteStatus, FlashReadStatus,
                   FlashErase, FlashWritePage, WriteIdentityPage, FlashChecksum, FlashReadPage,
                   ResetStepA, ResetStepB}) {
    SCOPED_TRACE(KindName(kind));
    ASSERT_EQ(b.Ask(kind), 1);
    EXPECT_EQ(b.Received(), ExpectedReplyLength(kind));
    EXPECT_EQ(b.Stray(), 0u);
  }
}

TEST(SimAdapter, VersionReplyHoldsTheMarkerAndThreeUpperCaseDigits) {
  for (uint32_t version : {0x1FFu, 0x204u, 0x00Au, 0xABCu}) {
    sim::AdapterConfig config;
    config.version = version;
    SimBench b(config);
    ASSERT_EQ(b.Open(), 1);
    ASSERT_EQ(b.Ask(QueryVersion), 1);
    ASSERT_EQ(b.Received(), 33);
    const std::string reply = b.Text();
    const size_t at = reply.find("BN Version");
    ASSERT_NE(at, std::string::npos);
    EXPECT_GT(at, 0u);
    EXPECT_LE(at, 17u);
    char digits[4];
    std::snprintf(digits, sizeof digits, "%03X", version);
    EXPECT_EQ(reply.substr(at + 13, 3), digits);
    EXPECT_EQ(b.model().version(), version);
  }
}

// Reply "XS" 07 S EE P value, the sequence echoed.
uint32_t ParamValue(SimBench& b, int op) {
  EXPECT_EQ(b.Received(), 10);
  EXPECT_EQ(b.Reply(0), 0x58);
  EXPECT_EQ(b.Reply(1), 0x53);
  EXPECT_EQ(b.Reply(2), 0x07);
  EXPECT_EQ(b.Reply(3), b.args.param_sequence);
  EXPECT_EQ(b.Reply(4), 0xEE);
  EXPECT_EQ(b.Reply(5), op);
  return uint32_t{b.Reply(6)} | uint32_t{b.Reply(7)} << 8 | uint32_t{b.Reply(8)} << 16 |
         uint32_t{b.Reply(9)} << 24;
}

TEST(SimAdapter, ParametersReadRawAndWrittenIndicesAreMappedBack) {
  sim::AdapterConfig config;
  config.params[2] = 0x12345678;
  SimBench b(config);
  ASSERT_EQ(b.Open(), 1);
  const std::map<int, uint32_t> defaults = {{1, 1}, {2, 0x12345678}, {3, 1}, {4, 7}, {5, 190},
                                            {6, 0}, {7, 1},          {8, 0}, {9, 0}, {10, 0}};
  for (const auto& [op, raw] : defaults) {
    b.args.param_op = static_cast<uint8_t>(op);
    b.args.param_sequence = static_cast<uint8_t>(op * 3);
    ASSERT_EQ(b.Ask(ParamRead), 1);
    EXPECT_EQ(ParamValue(b, op), raw) << "op " << op;
  }
  struct Case {
    int op;
    uint32_t written;
    uint32_t stored;
  };
  const Case writes[] = {
      {4, 0, 3},     {4, 1, 5},    {4, 2, 7},   {4, 3, 10},  {5, 2, 225}, {5, 1, 190},
      {5, 0, 150},   {5, 3, 95},   {5, 4, 80},  {1, 0, 0},   {10, 1, 1},  {8, 2, 2},
      {9, 0x1FF, 0xFF},  // only the low byte travels
  };
  for (const Case& c : writes) {
    SCOPED_TRACE("op " + std::to_string(c.op) + " written " + std::to_string(c.written));
    b.args.param_op = static_cast<uint8_t>(c.op);
    b.args.param_value = c.written;
    ASSERT_EQ(b.Ask(ParamWrite), 1);
    EXPECT_EQ(ParamValue(b, c.op), c.stored);
    EXPECT_EQ(b.model().param(c.op), c.stored);
    ASSERT_EQ(b.Ask(ParamRead), 1);
    EXPECT_EQ(ParamValue(b, c.op), c.stored);
  }
  // An index out of range leaves the stored value alone.
  b.args.param_op = 4;
  b.args.param_value = 9;
  ASSERT_EQ(b.Ask(ParamWrite), 1);
  EXPECT_EQ(b.model().param(4), 10u);
}

TEST(SimAdapter, BootLoaderDoesNotRunFirmwareCommandsNorFirmwareFlashCommands) {
  SimBench b;
  ASSERT_EQ(b.Open(), 1);
  b.args.read_address = kIdentityPageAddress;
  EXPECT_EQ(b.Ask(FlashReadPage), 0);
  EXPECT_EQ(b.Ask(FlashReadStatus), 0);
  EXPECT_EQ(b.Ask(SetBaud1M), 0);
  EXPECT_EQ(b.model().mode(), Mode::kFirmware);
  ASSERT_EQ(b.Ask(BootHandshake), 1);
  for (auto kind : {QueryVersion, ParamRead, ParamWrite})
    EXPECT_EQ(b.Ask(kind), 0) << KindName(kind);
  EXPECT_EQ(b.Ask(LinkCheck), 1);
}

TEST(SimAdapter, EraseAndWriteAreRefusedUntilTheUnlockSequence) {
  using K = std::vector<CommandKind>;
  struct Case {
    const char* name;
    K sequence;
    bool unlocked;
  };
  const Case cases[] = {
      {"nothing", {}, false},
      {"read, write, read", {FlashReadStatus, FlashWriteStatus, FlashReadStatus}, true},
      {"write, read", {FlashWriteStatus, FlashReadStatus}, false},
      {"read, read, write, read",
       {FlashReadStatus, FlashReadStatus, FlashWriteStatus, FlashReadStatus}, true},
      {"read, write, erase, read",
       {FlashReadStatus, FlashWriteStatus, FlashErase, FlashReadStatus}, false},
      {"read, write", {FlashReadStatus, FlashWriteStatus}, false},
      {"read, read", {FlashReadStatus, FlashReadStatus}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimBench b;
    b.EnterBootLoader();
    b.args.erase_block = 5;
    for (CommandKind kind : c.sequence) ASSERT_EQ(b.Ask(kind), 1);
    const Bytes before(b.model().flash().begin(), b.model().flash().end());
    ASSERT_EQ(b.Erase(1), 1);
    EXPECT_EQ(b.Received(), 16);
    EXPECT_EQ(b.Reply(7) == 0, c.unlocked);
    ASSERT_EQ(b.WritePage(20), 1);
    EXPECT_EQ(b.Received(), 15);
    EXPECT_EQ(b.Reply(7) == 0, c.unlocked);
    EXPECT_EQ(b.model().unlocked(), c.unlocked);
    const Bytes after(b.model().flash().begin(), b.model().flash().end());
    EXPECT_EQ(after == before, !c.unlocked);
  }
}

TEST(SimAdapter, UnlockIsForgottenByARestart) {
  SimBench b;
  b.EnterBootLoader();
  b.Unlock();
  ASSERT_TRUE(b.model().unlocked());
  b.Restart(1000000);
  EXPECT_EQ(b.model().restarts(), 1);
  b.EnterBootLoader();
  EXPECT_FALSE(b.model().unlocked());
  ASSERT_EQ(b.Erase(0), 1);
  EXPECT_NE(b.Reply(7), 0);
}

TEST(SimAdapter, EraseSetsItsWholeBlockToFFAndNothingElse) {
  struct Case {
    int block;
    uint32_t start;
    uint32_t size;
  };
  for (const Case& c : {Case{0, 0x00000, 0x10000}, Case{7, 0x70000, 0x10000},
                        Case{16, 0xF0000, 0x1000}, Case{29, 0xFD000, 0x1000}}) {
    SCOPED_TRACE(c.block);
    sim::AdapterConfig config;
    config.flash.assign(sim::kFlashSize, 0x5A);
    config.flash[0] = 0x00;  // page 0 is not blank: the firmware runs
    SimBench b(config);
    b.EnterBootLoader();
    b.Unlock();
    ASSERT_EQ(b.Erase(c.block), 1);
    EXPECT_EQ(b.Reply(7), 0);
    const auto flash = b.model().flash();
    const auto first = std::find_if(flash.begin(), flash.end(), [](uint8_t v) { return v == 0xFF; });
    const auto last = std::find_if(flash.rbegin(), flash.rend(), [](uint8_t v) { return v == 0xFF; });
    EXPECT_EQ(static_cast<uint32_t>(first - flash.begin()), c.start);
    EXPECT_EQ(static_cast<uint32_t>(flash.rend() - last), c.start + c.size);
    EXPECT_EQ(static_cast<uint32_t>(std::count(flash.begin(), flash.end(), 0xFF)), c.size);
  }
}

TEST(SimAdapter, PagesReadBackAsWrittenOnlyAfterAnErase) {
  SimBench b;
  b.EnterBootLoader();
  b.Unlock();
  const Bytes old(b.model().flash().begin() + 0x1000, b.model().flash().begin() + 0x2000);
  const auto page1 = BuiltInImage().Page(1);
  ASSERT_EQ(b.WritePage(1), 1);
  // Programming only clears bits: the old content shows through.
  Bytes anded(old);
  for (size_t i = 0; i < anded.size(); ++i) anded[i] &= page1[i];
  EXPECT_TRUE(FlashEquals(b.model(), 0x1000, anded));
  EXPECT_FALSE(FlashEquals(b.model(), 0x1000, page1));

  ASSERT_EQ(b.Erase(0), 1);
  ASSERT_EQ(b.WritePage(1), 1);
  EXPECT_TRUE(FlashEquals(b.model(), 0x1000, page1));
  ASSERT_EQ(b.Erase(7), 1);
  ASSERT_EQ(b.Ask(WriteIdentityPage), 1);
  EXPECT_TRUE(FlashEquals(b.model(), kIdentityPageAddress, BuildIdentityPage(b.facts().BtAddress)));
}

// The whole programming order of an update, by hand, then the restart.
TEST(SimAdapter, AFullProgrammingRunLeavesTheImageAndRestartsIntoIt) {
  SimBench b;
  b.EnterBootLoader();
  b.args.read_address = kIdentityPageAddress;
  ASSERT_EQ(b.Ask(FlashReadPage), 1);
  ASSERT_EQ(b.Received(), 4110);
  std::copy_n(b.last.start.begin() + 15, 6, b.facts().BtAddress.begin());
  EXPECT_EQ(b.facts().BtAddress, sim::AdapterConfig{}.bt_address);
  b.Unlock();
  for (int block = 0; block < 30; ++block) ASSERT_EQ(b.Erase(block), 1) << block;
  for (int page = 1; page < 125; ++page) ASSERT_EQ(b.WritePage(page), 1) << page;
  ASSERT_EQ(b.Ask(WriteIdentityPage), 1);
  ASSERT_EQ(b.WritePage(0), 1);
  ASSERT_EQ(b.Ask(FlashChecksum), 1);
  ASSERT_EQ(b.Received(), 11);
  EXPECT_TRUE(std::equal(BuiltInImage().checksum().begin(), BuiltInImage().checksum().end(),
                         b.last.start.begin() + 7));
  const auto expected = sim::FlashAfterUpdate(sim::AdapterConfig{}.bt_address);
  EXPECT_TRUE(FlashEquals(b.model(), 0, expected));

  EXPECT_EQ(b.model().version(), 0x1FFu);
  b.Restart(1000000);
  EXPECT_EQ(b.model().mode(), Mode::kFirmware);
  EXPECT_EQ(b.model().version(), BuiltInImage().version());
  ASSERT_EQ(b.Ask(QueryVersion), 1);
  char text[20];
  std::snprintf(text, sizeof text, "BN Version = %03X", BuiltInImage().version());
  EXPECT_NE(b.Text().find(text), std::string::npos);
}

TEST(SimAdapter, WhatRunsAfterARestartDependsOnTheFlash) {
  const auto good = sim::FlashAfterUpdate(sim::AdapterConfig{}.bt_address);
  Bytes custom_image(sim::kImageEnd);
  for (size_t i = 0; i < custom_image.size(); ++i) custom_image[i] = static_cast<uint8_t>(i * 7 + 1);
  struct Case {
    const char* name;
    std::function<void(sim::AdapterConfig&)> setup;
    Mode mode;
    uint32_t version;
  };
  const Case cases[] = {
      {"the old image", [](sim::AdapterConfig&) {}, Mode::kFirmware, 0x1FF},
      {"the built-in image", [&](sim::AdapterConfig& c) { c.flash = good; }, Mode::kFirmware,
       BuiltInImage().version()},
      {"a blank page 0",
       [&](sim::AdapterConfig& c) {
         c.flash = good;
         std::fill_n(c.flash.begin(), 4096, 0xFF);
       },
       Mode::kBootLoader, 0},
      {"the image with another page damaged",
       [&](sim::AdapterConfig& c) {
         c.flash = good;
         c.flash[0x30000] ^= 0xFF;
       },
       Mode::kFirmware, 0x1FF},
      {"an image the model was given",
       [&](sim::AdapterConfig& c) {
         c.image = custom_image;
         c.image_version = 0x321;
         c.flash = custom_image;
       },
       Mode::kFirmware, 0x321},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::AdapterConfig config;
    c.setup(config);
    SimBench b(config);
    ASSERT_EQ(b.Open(), 1);
    b.Restart(115200);
    EXPECT_EQ(b.model().restarts(), 1);
    EXPECT_EQ(b.model().mode(), c.mode);
    EXPECT_EQ(b.Ask(LinkCheck), 1);  // both programs answer it
    EXPECT_EQ(b.Ask(QueryVersion), c.mode == Mode::kFirmware ? 1 : 0);
    if (c.mode == Mode::kFirmware) {
      EXPECT_EQ(b.model().version(), c.version);
    }
  }
}

TEST(SimAdapter, PageZeroWrittenWithoutEraseLeavesOnlyTheBootLoader) {
  SimBench b;
  b.EnterBootLoader();
  b.Unlock();
  ASSERT_EQ(b.WritePage(0), 1);
  b.Restart(1000000);
  EXPECT_EQ(b.model().mode(), Mode::kBootLoader);
  EXPECT_EQ(b.Ask(QueryVersion), 0);
  EXPECT_EQ(b.Ask(BootHandshake), 1);
}

TEST(SimAdapter, OnlyTheResetPairInThatOrderRestarts) {
  struct Case {
    const char* name;
    std::vector<CommandKind> kinds;
    int restarts;
  };
  const Case cases[] = {
      {"A then B", {ResetStepA, ResetStepB}, 1},
      {"A alone", {ResetStepA}, 0},
      {"B alone", {ResetStepB}, 0},
      {"B then A", {ResetStepB, ResetStepA}, 0},
      {"A, link check, B", {ResetStepA, LinkCheck, ResetStepB}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimBench b;
    ASSERT_EQ(b.Open(), 1);
    for (CommandKind kind : c.kinds) {
      ASSERT_EQ(b.Ask(kind), 1);
      EXPECT_EQ(b.Received(), ExpectedReplyLength(kind));
    }
    EXPECT_EQ(b.model().restarts(), c.restarts);
  }
}

TEST(SimAdapter, NothingIsAnsweredWhileItRestarts) {
  SimBench b;
  ASSERT_EQ(b.Open(), 1);
  ASSERT_EQ(b.Ask(ResetStepA), 1);
  ASSERT_EQ(b.Ask(ResetStepB), 1);
  const size_t from = b.model().frames().size();
  // The first attempt falls into the restart; the second finds the firmware.
  EXPECT_EQ(b.Ask(LinkCheck), 1);
  EXPECT_EQ(b.Kinds(from), (KindList{LinkCheck}));
  EXPECT_EQ(b.model().frames().size(), from + 1);
  b.model().config().timing.restart_us = 1'000'000;
  ASSERT_EQ(b.Ask(ResetStepA), 1);
  ASSERT_EQ(b.Ask(ResetStepB), 1);
  EXPECT_EQ(b.Ask(LinkCheck), 0);
  b.clock.AdvanceUs(1'000'000);
  EXPECT_EQ(b.Ask(LinkCheck), 1);
}

TEST(SimAdapter, TheRestartPairWorksAtEitherSpeedButOnlyAtTheAdaptersOwn) {
  {
    SCOPED_TRACE("firmware at 115,200");
    SimBench b;
    ASSERT_EQ(b.Open(), 1);
    b.link.ConfigurePort(1000000);
    EXPECT_EQ(b.Ask(ResetStepA), 0);
    EXPECT_EQ(b.Ask(ResetStepB), 0);
    EXPECT_EQ(b.model().restarts(), 0);
    b.Restart(115200);
    EXPECT_EQ(b.model().restarts(), 1);
  }
  {
    SCOPED_TRACE("boot loader at 1,000,000");
    SimBench b;
    b.EnterBootLoader();
    b.link.ConfigurePort(115200);
    EXPECT_EQ(b.Ask(ResetStepA), 0);
    EXPECT_EQ(b.model().restarts(), 0);
    b.Restart(1000000);
    EXPECT_EQ(b.model().restarts(), 1);
    EXPECT_EQ(b.model().mode(), Mode::kFirmware);
    EXPECT_EQ(b.model().line_baud(), 115200u);
  }
}

TEST(SimAdapter, HandshakeEntryAnswersTheFirstHandshake) {
  SimBench b;
  ASSERT_EQ(b.Open(), 1);
  ASSERT_EQ(b.Ask(LinkCheck), 1);
  ASSERT_EQ(b.Ask(BootHandshake), 1);
  EXPECT_EQ(b.Received(), 8);
  EXPECT_EQ(b.model().mode(), Mode::kBootLoader);
  EXPECT_EQ(b.Kinds(), (KindList{LinkCheck, BootHandshake}));
}

TEST(SimAdapter, BurstEntryWaitsForTheBurstsAroundBootCommandFE) {
  sim::AdapterConfig config;
  config.boot_entry = sim::BootEntry::kBursts;
  SimBench b(config);
  ASSERT_EQ(b.Open(), 1);
  ASSERT_EQ(b.Ask(LinkCheck), 1);
  EXPECT_EQ(b.Ask(BootHandshake), 0);
  ASSERT_EQ(b.Ask(HandshakeBurstLong), 1);
  ASSERT_EQ(b.Ask(BootCommandFE), 1);
  ASSERT_EQ(b.Ask(HandshakeBurstShort), 1);
  EXPECT_EQ(b.model().mode(), Mode::kFirmware);
  ASSERT_EQ(b.Ask(BootHandshake), 1);
  EXPECT_EQ(b.Received(), 8);
  EXPECT_EQ(b.model().mode(), Mode::kBootLoader);
  EXPECT_EQ(b.Stray(), 0u);

  KindList expected = {LinkCheck, BootHandshake, BootHandshake};
  expected.insert(expected.end(), 101, BootHandshake);
  expected.push_back(BootCommandFE);
  expected.insert(expected.end(), 11, BootHandshake);
  expected.push_back(BootHandshake);
  EXPECT_EQ(b.Kinds(), expected);
  for (const auto& f : b.model().frames()) EXPECT_EQ(f.baud, 115200u);
  const auto& frames = b.model().frames();
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_GT(frames[i].t_us, frames[i - 1].t_us);

  ASSERT_EQ(b.Ask(SetBaud1M), 1);
  EXPECT_EQ(b.Received(), 12);
}

TEST(SimAdapter, BurstEntryIgnoresAnFEWithoutTheLongBurst) {
  sim::AdapterConfig config;
  config.boot_entry = sim::BootEntry::kBursts;
  SimBench b(config);
  ASSERT_EQ(b.Open(), 1);
  ASSERT_EQ(b.Ask(BootCommandFE), 1);
  ASSERT_EQ(b.Ask(HandshakeBurstShort), 1);
  EXPECT_EQ(b.Ask(BootHandshake), 0);
  ASSERT_EQ(b.Ask(HandshakeBurstShort), 1);
  EXPECT_EQ(b.Ask(BootHandshake), 0);
  EXPECT_EQ(b.model().mode(), Mode::kFirmware);
}

TEST(SimAdapter, BytesAtTheWrongSpeedArriveGarbledEitherWay) {
  {
    SCOPED_TRACE("host at 1,000,000 to the firmware at 115,200");
    SimBench b;
    ASSERT_EQ(b.Open(), 1);
    b.link.ConfigurePort(1000000);
    EXPECT_EQ(b.Ask(LinkCheck), 0);
    EXPECT_TRUE(b.model().frames().empty());
  }
  {
    SCOPED_TRACE("host left at 115,200 after SetBaud1M");
    SimBench b;
    ASSERT_EQ(b.Open(), 1);
    ASSERT_EQ(b.Ask(BootHandshake), 1);
    ASSERT_EQ(b.Ask(SetBaud1M), 1);
    const size_t from = b.model().frames().size();
    EXPECT_EQ(b.Ask(FlashReadStatus), 0);
    EXPECT_TRUE(b.Kinds(from).empty());
    EXPECT_GT(b.model().garbage_bytes(), 0u);
    b.link.ConfigurePort(1000000);
    EXPECT_EQ(b.Ask(FlashReadStatus), 1);
  }
  {
    SCOPED_TRACE("a reply sent at 115,200 read at 1,000,000");
    SimBench b;
    ASSERT_EQ(b.Open(), 1);
    ASSERT_EQ(b.link.SendFrame(LinkCheck), 8);
    b.link.ConfigurePort(1000000);
    b.last = b.link.ReadReply(8);
    const int got = b.Received();
    ASSERT_GT(got, 0);
    EXPECT_FALSE(got >= 3 && b.Reply(0) == 0x04 && b.Reply(1) == 0x0E && b.Reply(2) == 0x05);
  }
}

TEST(SimAdapter, ReplyFaults) {
  struct Case {
    const char* name;
    std::function<void(sim::Faults&)> fault;
    CommandKind kind;
    int answered;
    int received;
    std::function<void(SimBench&)> check;
  };
  const auto none = [](SimBench&) {};
  const Case cases[] = {
      {"silent", [](sim::Faults& f) { f.silent = true; }, LinkCheck, 0, 0,
       [](SimBench& b) { EXPECT_EQ(b.Kinds(), (KindList{LinkCheck, LinkCheck})); }},
      {"one link check ignored", [](sim::Faults& f) { f.ignore_kind[LinkCheck] = 1; }, LinkCheck,
       1, 8, [](SimBench& b) { EXPECT_EQ(b.Kinds().size(), 2u); }},
      {"two link checks ignored", [](sim::Faults& f) { f.ignore_kind[LinkCheck] = 2; }, LinkCheck,
       0, 0, none},
      {"version cut to half", [](sim::Faults& f) { f.short_reply_kind[QueryVersion] = 1; },
       QueryVersion, 1, 16, none},
      {"version cut to 3 bytes",
       [](sim::Faults& f) {
         f.short_reply_kind[QueryVersion] = 1;
         f.short_reply_bytes = 3;
       },
       QueryVersion, 1, 3, none},
      {"extra bytes", [](sim::Faults& f) { f.extra_bytes = 3; }, LinkCheck, 1, 8,
       [](SimBench& b) { EXPECT_EQ(b.Stray(), 3u); }},
      {"version without marker", [](sim::Faults& f) { f.version_without_marker = true; },
       QueryVersion, 1, 33,
       [](SimBench& b) {
         const std::string reply = b.Text();
         EXPECT_EQ(reply.find("BN Version"), std::string::npos);
       }},
      {"bad parameter ack", [](sim::Faults& f) { f.bad_param_ack = true; }, ParamRead, 1, 10,
       [](SimBench& b) {
         EXPECT_EQ(b.Reply(0), 0x58);
         EXPECT_NE(b.Reply(4), 0xEE);
       }},
      {"every byte dropped", [](sim::Faults& f) { f.drop_rate = 1.0; }, LinkCheck, 0, 0,
       [](SimBench& b) { EXPECT_TRUE(b.Kinds().empty()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::AdapterConfig config;
    c.fault(config.faults);
    SimBench b(config);
    ASSERT_EQ(b.Open(), 1);
    b.args.param_op = 1;
    EXPECT_EQ(b.Ask(c.kind), c.answered);
    EXPECT_EQ(b.Received(), c.received);
    c.check(b);
  }
}

TEST(SimAdapter, ChecksumFaults) {
  for (const bool short_reply : {false, true}) {
    SCOPED_TRACE(short_reply ? "short" : "wrong");
    sim::AdapterConfig config;
    config.flash = sim::FlashAfterUpdate(config.bt_address);
    (short_reply ? config.faults.short_checksum : config.faults.wrong_checksum) = true;
    SimBench b(config);
    b.EnterBootLoader();
    ASSERT_EQ(b.Ask(FlashChecksum), 1);
    EXPECT_EQ(b.Received(), short_reply ? 9 : 11);
    EXPECT_FALSE(std::equal(BuiltInImage().checksum().begin(), BuiltInImage().checksum().end(),
                            b.last.start.begin() + 7));
  }
}

// Acknowledged, yet stored wrong the first n times; the read-back shows it.
TEST(SimAdapter, IdentityPageStoredWrongForItsFirstWrites) {
  sim::AdapterConfig config;
  config.faults.wrong_identity_writes = 2;
  SimBench b(config);
  b.EnterBootLoader();
  b.Unlock();
  const auto page = BuildIdentityPage(b.facts().BtAddress);
  for (const bool right : {false, false, true}) {
    SCOPED_TRACE(right);
    ASSERT_EQ(b.Erase(7), 1);
    ASSERT_EQ(b.Ask(WriteIdentityPage), 1);
    EXPECT_EQ(FlashEquals(b.model(), kIdentityPageAddress, page), right);
    b.args.read_address = kIdentityPageAddress;
    ASSERT_EQ(b.Ask(FlashReadPage), 1);
    EXPECT_EQ(std::equal(page.begin(), page.begin() + 21,
                         b.last.start.begin() + kPageDataOffset),
              right);
  }
}

TEST(SimAdapter, BusyPortCannotBeOpened) {
  sim::AdapterConfig config;
  config.faults.busy = true;
  SimBench b(config);
  OpenError error = OpenError::kNone;
  EXPECT_EQ(OpenPort(b.state(), b.ports, b.stack.log, "COM3", &error), 0);
  EXPECT_EQ(error, OpenError::kBusy);
}

TEST(SimAdapter, UnpluggedAfterSomeBytesComesBackRestartedOnANewOpen) {
  sim::AdapterConfig config;
  config.faults.hangup_after_bytes = 8;  // inside the link check after the handshake
  config.faults.hangup_count = 1;
  SimBench b(config);
  ASSERT_EQ(b.Open(), 1);
  ASSERT_EQ(b.Ask(BootHandshake), 1);
  EXPECT_EQ(b.Ask(LinkCheck), 0);
  EXPECT_TRUE(b.adapter.line().hung_up());
  EXPECT_TRUE(b.model().unplugged());
  // The old handle stays dead, and a new one cannot be had at once.
  EXPECT_EQ(b.Ask(LinkCheck), 0);
  b.link.ClosePort();
  EXPECT_EQ(b.Open(), 0);
  b.clock.AdvanceUs(sim::kReplugDelayUs + b.model().config().timing.restart_us);
  ASSERT_EQ(b.Open(), 1);
  EXPECT_EQ(b.model().restarts(), 1);
  // Power cycled: out of the boot loader, and never pulled again.
  EXPECT_EQ(b.model().mode(), Mode::kFirmware);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(b.Ask(LinkCheck), 1);
}

TEST(SimAdapter, UnpluggedAtAStepOfTheUpdate) {
  sim::AdapterConfig config;
  config.faults.hangup_step = sim::UpdateStep::kPageWrite;
  config.faults.hangup_index = 3;
  config.faults.hangup_count = 2;
  SimBench b(config);
  for (int pull = 0; pull < 3; ++pull) {
    SCOPED_TRACE(pull);
    b.EnterBootLoader();
    b.Unlock();
    ASSERT_EQ(b.Erase(0), 1);
    for (int page = 1; page < 3; ++page) ASSERT_EQ(b.WritePage(page), 1);
    // Page 3 is lost with the plug, twice; the third time it goes in.
    EXPECT_EQ(b.WritePage(3), pull < 2 ? 0 : 1);
    EXPECT_EQ(FlashEquals(b.model(), 0x3000, BuiltInImage().Page(3)), pull == 2);
    b.link.ClosePort();
    b.clock.AdvanceUs(sim::kReplugDelayUs + b.model().config().timing.restart_us);
  }
  EXPECT_EQ(b.model().restarts(), 2);
}

}  // namespace
}  // namespace brivelton::testing
