// SPDX-License-Identifier: MIT
// The Update Firmware button against the simulated adapter, in virtual time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/host_bench.h"
#include "sim/virtual_adapter.h"
#include "support/counting_clock.h"
#include "support/recording_view.h"
#include "resources/firmware_image.h"
#include "update/identity_page.h"

namespace brivelton {
namespace {

using enum CommandKind;

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::Not;
using testing::RecordingView;

using Address = std::array<uint8_t, 6>;

const std::string kBanner = std::string(9, ' ') + "WARMING !!! FAILED !!!" + std::string(23, ' ');

// The lines of one attempt that gets through, identity read included or not.
std::vector<std::string> GoodAttempt(bool reads_identity) {
  std::vector<std::string> lines;
  if (reads_identity) lines.push_back(" Check Device ...");
  for (const char* line : {" Erase flash ..........", " Done", " Write flash ..........", " Done",
                           " Verify flash ..........", " Done"})
    lines.push_back(line);
  return lines;
}

const std::vector<std::string> kSuccessTail = {" Reboot MCU ", " ", " Success ", " "};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Passes virtual time on, and keeps every pause the procedure asked for.
uint32_t AddressOf(const sim::FrameRecord& f) {
  return uint32_t{f.bytes[8]} | uint32_t{f.bytes[9]} << 8 | uint32_t{f.bytes[10]} << 16 |
         uint32_t{f.bytes[11]} << 24;
}

using KindList = std::vector<std::optional<CommandKind>>;

KindList Kinds(const std::vector<sim::FrameRecord>& frames) {
  KindList kinds;
  for (const auto& f : frames) kinds.push_back(f.kind);
  return kinds;
}

class UpdateTest : public ::testing::Test, public testing::HostBench {
 protected:
  sim::VirtualAdapter& Attach(sim::AdapterConfig config = {}, const std::string& name = "COM3") {
    return Adapter(std::move(config), name);
  }
  // Where Check Device leaves things: the port found and open at 115,200 baud.
  void Found(const std::string& name = "COM3") {
    ASSERT_TRUE(AfterCheckDevice({.version = 0x1FF, .port = name, .open = true}));
  }
  // One press of Update Firmware, OK in the warning; the lines it logged.
  std::vector<std::string> Press() {
    const size_t from = view.log.size();
    outcomes.push_back(dialog().OnUpdateFirmware());
    return view.LogFrom(from);
  }
  std::vector<UpdateOutcome> outcomes;

};

TEST_F(UpdateTest, SuccessfulUpdate) {
  sim::VirtualAdapter& adapter = Attach();
  Found();
  const auto log = Press();

  EXPECT_THAT(log, ElementsAreArray(Join({{" ", " Start the programming: "}, GoodAttempt(true),
                                          kSuccessTail})));
  EXPECT_EQ(view.confirm_calls, 1);
  EXPECT_EQ(view.results, std::vector<bool>{true});
  EXPECT_EQ(outcomes, std::vector{UpdateOutcome::kSucceeded});
  EXPECT_EQ(facts().DeviceVersion, static_cast<int>(BuiltInImage().version()));
  EXPECT_FALSE(state().is_open());
  EXPECT_EQ(virtual_ports.open_ports(), 0);
  EXPECT_EQ(counting.Count(3000), 0);

  const sim::DeviceModel& model = adapter.model();
  const Address own = sim::AdapterConfig{}.bt_address;
  EXPECT_EQ(facts().BtAddress, own);
  const auto expected_flash = sim::FlashAfterUpdate(own);
  ASSERT_EQ(model.flash().size(), expected_flash.size());
  EXPECT_TRUE(std::equal(expected_flash.begin(), expected_flash.end(), model.flash().begin()));
  // Restarted into the new firmware.
  EXPECT_EQ(model.mode(), sim::Mode::kFirmware);
  EXPECT_EQ(model.version(), BuiltInImage().version());

  // The frames up to the checksum, in order; page 0 written after every other
  // page and after the identity page.
  KindList expected = {LinkCheck, BootHandshake, SetBaud1M, FlashReadPage,
                               FlashReadStatus, FlashWriteStatus, FlashReadStatus};
  expected.insert(expected.end(), 30, FlashErase);
  expected.insert(expected.end(), 124, FlashWritePage);
  expected.insert(expected.end(), {WriteIdentityPage, FlashWritePage, FlashChecksum});
  const auto kinds = Kinds(model.frames());
  ASSERT_GE(kinds.size(), expected.size());
  EXPECT_EQ(KindList(kinds.begin(), kinds.begin() + expected.size()), expected);
  std::vector<uint32_t> page_addresses;
  for (const auto& f : model.frames())
    if (f.kind == FlashWritePage) page_addresses.push_back(AddressOf(f));
  ASSERT_EQ(page_addresses.size(), 125u);
  for (uint32_t n = 1; n <= 124; ++n) EXPECT_EQ(page_addresses[n - 1], n * 0x1000);
  EXPECT_EQ(page_addresses.back(), 0u);
  // The flash commands went at the high speed.
  for (const auto& f : model.frames()) {
    if (f.kind >= FlashReadStatus && f.kind <= FlashReadPage) {
      EXPECT_EQ(f.baud, 1000000u);
    }
  }
}

// Behind an FTDI-like bridge every short reply waits for the bridge's
// latency timer. The link asks for low latency when it configures the port:
// granted, the update keeps the pace of a plain line and the log is
// unchanged; where the system keeps the timer (Windows), the log says once
// how to lower it.
TEST_F(UpdateTest, ABridgeHoldingShortRepliesIsAskedForLowLatency) {
  struct Case {
    const char* bridge;
    uint32_t fixed_timer_ms;  // the timer the request cannot lower; 0: granted
  };
  const Case cases[] = {{"none", 0}, {"ftdi", 0}, {"ftdi", 16}};
  const std::string note =
      " The USB-serial bridge on COM3 holds short replies for 16 ms; an update runs faster with "
      "its Latency Timer at 1 ms (Device Manager, the port's Properties, Port Settings, "
      "Advanced).";
  std::vector<uint64_t> took_us;
  std::vector<std::string> plain_log;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.bridge) + " timer " + std::to_string(c.fixed_timer_ms));
    HostBench bench;
    sim::AdapterConfig config;
    if (std::string(c.bridge) == "ftdi")
      config.bridge = {.name = "ftdi", .packet_bytes = 62, .hold_us = 16'000,
                       .low_latency_hold_us = 1'000};
    sim::VirtualAdapter& adapter = bench.Adapter(config);
    adapter.line().set_bridge_timer_ms(c.fixed_timer_ms);
    ASSERT_TRUE(bench.AfterCheckDevice({.version = 0x1FF, .open = true}));
    EXPECT_EQ(adapter.line().low_latency(), c.fixed_timer_ms == 0);
    const uint64_t start = bench.clock.NowUs();
    ASSERT_EQ(bench.dialog().OnUpdateFirmware(), UpdateOutcome::kSucceeded);
    took_us.push_back(bench.clock.NowUs() - start);
    EXPECT_GT(adapter.line().low_latency_requests(), 1);
    const auto notes = std::count(bench.view.log.begin(), bench.view.log.end(), note);
    EXPECT_EQ(notes, c.fixed_timer_ms ? 1 : 0);
    if (c.fixed_timer_ms) {
      std::erase(bench.view.log, note);
      EXPECT_EQ(bench.view.log, plain_log) << "the note is the only line added";
    } else if (plain_log.empty()) {
      plain_log = bench.view.log;
    }
  }
  // Granted: within 5% of the plain line. Refused: each exchange waits 16 ms.
  EXPECT_LE(took_us[1], took_us[0] * 105 / 100);
  EXPECT_GT(took_us[2], took_us[0] * 120 / 100);
}

TEST_F(UpdateTest, CancelTouchesNothing) {
  sim::VirtualAdapter& adapter = Attach();
  Found();
  view.confirm = false;
  EXPECT_THAT(Press(), ElementsAreArray({" Firmware update cancelled"}));
  EXPECT_TRUE(adapter.model().frames().empty());
  EXPECT_TRUE(view.results.empty());
  EXPECT_EQ(outcomes, std::vector{UpdateOutcome::kCancelled});
  EXPECT_EQ(facts().DeviceVersion, 0x1FF);
}

// The identity page: the adapter's own address is written back; a blank page
// leaves the address the utility holds.
TEST_F(UpdateTest, IdentityPageWrittenBack) {
  struct Case {
    const char* what;
    Address address;
    bool blank;
    Address written;
    const char* name;
  };
  const Address start = kDefaultBtAddress;
  const Address own = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  for (const Case& c : {Case{"own page", own, false, own, "Brivelton(211)"},
                        Case{"blank page", own, true, start, "Brivelton(100)"}}) {
    SCOPED_TRACE(c.what);
    const std::string port = c.blank ? "COM5" : "COM4";
    sim::AdapterConfig config;
    config.bt_address = c.address;
    config.blank_identity = c.blank;
    sim::VirtualAdapter& adapter = Attach(config, port);
    AfterIdentityRead(start, false);
    Found(port);
    Press();
    EXPECT_EQ(view.results.back(), true);
    EXPECT_EQ(facts().BtAddress, c.written);
    const auto flash = adapter.model().flash();
    const auto page = flash.subspan(0x7D000, 4096);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&page[6])), c.name);
    const auto expected = sim::FlashAfterUpdate(c.written);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
  }
}

TEST_F(UpdateTest, FirstAttemptFailsTheLinkChecksThenSucceeds) {
  sim::AdapterConfig config;
  // Both exchanges before the restart and both after it.
  config.faults.ignore_kind[LinkCheck] = 4;
  sim::VirtualAdapter& adapter = Attach(config);
  Found();
  const uint64_t before = clock.NowUs();
  const auto log = Press();
  EXPECT_THAT(log, ElementsAreArray(Join({{" ", " Start the programming: ",
                                           " Fail to enter boot mode"},
                                          GoodAttempt(true), kSuccessTail})));
  EXPECT_EQ(counting.Count(3000), 1);
  EXPECT_GE(clock.NowUs() - before, 3'000'000u);
  EXPECT_EQ(view.results, std::vector<bool>{true});
  EXPECT_EQ(facts().DeviceVersion, static_cast<int>(BuiltInImage().version()));
  const auto expected = sim::FlashAfterUpdate(sim::AdapterConfig{}.bt_address);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), adapter.model().flash().begin()));
}

TEST_F(UpdateTest, TwentyFailedAttempts) {
  virtual_ports.AddPort("COM3", nullptr);  // nothing answers
  Found();
  const uint64_t before = clock.NowUs();
  const auto log = Press();
  std::vector<std::string> expected = {" ", " Start the programming: "};
  expected.insert(expected.end(), 20, " Fail to enter boot mode");
  expected.insert(expected.end(), {kBanner, " Please re-install the device and try again."});
  EXPECT_THAT(log, ElementsAreArray(expected));
  EXPECT_EQ(counting.Count(3000), 19);
  EXPECT_GE(clock.NowUs() - before, 57'000'000u);
  EXPECT_EQ(view.results, std::vector<bool>{false});
  EXPECT_EQ(outcomes, std::vector{UpdateOutcome::kFailed});
  EXPECT_EQ(facts().DeviceVersion, 0x1FF);
  // Reopened by the last attempt, at the firmware's speed.
  EXPECT_TRUE(state().is_open());
  EXPECT_EQ(virtual_ports.Find("COM3")->host_baud(), 115200u);
}

TEST_F(UpdateTest, HangUpDuringPageWritesThenBackForTheNextAttempt) {
  sim::AdapterConfig config;
  config.bt_address = {0x5A, 0x3C, 0x01, 0x02, 0x03, 0x04};
  config.faults.hangup_step = sim::UpdateStep::kPageWrite;
  config.faults.hangup_index = 0x3C;
  config.faults.hangup_count = 1;
  sim::VirtualAdapter& adapter = Attach(config);
  Found();
  const auto log = Press();
  // The write that met the dead line fails; the next attempt does not read the
  // (now erased) identity page again.
  EXPECT_THAT(log, ElementsAreArray(Join({{" ", " Start the programming: ", " Check Device ...",
                                           " Erase flash ..........", " Done",
                                           " Write flash ..........", " Write file error",
                                           " Fail to write flash add:3c"},
                                          GoodAttempt(false), kSuccessTail})));
  EXPECT_EQ(counting.Count(3000), 1);
  EXPECT_EQ(view.results, std::vector<bool>{true});
  // The address read before the erase is the one written back.
  EXPECT_EQ(facts().BtAddress, config.bt_address);
  const auto expected = sim::FlashAfterUpdate(config.bt_address);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), adapter.model().flash().begin()));
  EXPECT_EQ(adapter.model().version(), BuiltInImage().version());
}

struct ChecksumFault {
  const char* what;
  bool wrong;
  bool short_reply;
};
void PrintTo(const ChecksumFault& c, std::ostream* os) { *os << c.what; }

class BadChecksum : public UpdateTest, public ::testing::WithParamInterface<ChecksumFault> {};

TEST_P(BadChecksum, NeverSucceeds) {
  sim::AdapterConfig config;
  config.faults.wrong_checksum = GetParam().wrong;
  config.faults.short_checksum = GetParam().short_reply;
  Attach(config);
  Found();
  const auto log = Press();
  EXPECT_THAT(log, Not(Contains(" Success ")));
  int crc_errors = 0;
  for (size_t i = 1; i < log.size(); ++i) {
    if (log[i] == " !!!!! CRC error !!!!! ") {
      ++crc_errors;
      EXPECT_EQ(log[i - 1], " Done");
    }
  }
  EXPECT_EQ(crc_errors, 20);
  EXPECT_EQ(log.back(), " Please re-install the device and try again.");
  EXPECT_EQ(view.results, std::vector<bool>{false});
  EXPECT_EQ(facts().DeviceVersion, 0x1FF);
}

INSTANTIATE_TEST_SUITE_P(Faults, BadChecksum,
                         ::testing::Values(ChecksumFault{"wrong", true, false},
                                           ChecksumFault{"short", false, true}),
                         ::testing::PrintToStringParamName());

TEST_F(UpdateTest, FirmwareThatWantsTheHandshakeBursts) {
  sim::AdapterConfig config;
  config.boot_entry = sim::BootEntry::kBursts;
  sim::VirtualAdapter& adapter = Attach(config);
  Found();
  const auto log = Press();
  EXPECT_THAT(log, ElementsAreArray(Join({{" ", " Start the programming: "}, GoodAttempt(true),
                                          kSuccessTail})));

  // Runs of equal frames up to the baud change: one link check, the two
  // unanswered handshakes and the 101 of the long burst, FE, the 11 of the
  // short burst and the last handshake.
  const auto& frames = adapter.model().frames();
  struct Run {
    std::optional<CommandKind> kind;
    size_t count;
    size_t first;
  };
  std::vector<Run> runs;
  for (size_t i = 0; i < frames.size() && frames[i].kind != SetBaud1M; ++i) {
    if (!runs.empty() && frames[runs.back().first].bytes == frames[i].bytes)
      ++runs.back().count;
    else
      runs.push_back({frames[i].kind, 1, i});
  }
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].kind, LinkCheck);
  EXPECT_EQ(runs[0].count, 1u);
  EXPECT_EQ(runs[1].kind, BootHandshake);
  EXPECT_EQ(runs[1].count, 2u + 101u);
  EXPECT_EQ(runs[2].kind, BootCommandFE);
  EXPECT_EQ(runs[2].count, 1u);
  EXPECT_EQ(runs[3].kind, BootHandshake);
  EXPECT_EQ(runs[3].count, 11u + 1u);
  // The first two handshakes each waited for a reply; the burst does not.
  const size_t h = runs[1].first;
  EXPECT_GT(frames[h + 1].t_us - frames[h].t_us, 50'000u);
  EXPECT_GT(frames[h + 2].t_us - frames[h + 1].t_us, 50'000u);
  for (size_t i = h + 3; i < h + 103; ++i) EXPECT_LT(frames[i].t_us - frames[i - 1].t_us, 10'000u);
  EXPECT_EQ(frames[h + 103].kind, BootCommandFE);
}

TEST_F(UpdateTest, SecondUpdateInTheSameRun) {
  sim::VirtualAdapter& adapter = Attach();
  Found();
  Press();
  const size_t frames_before = adapter.model().frames().size();
  // The port stayed closed after the first update.
  const auto log = Press();
  EXPECT_THAT(log, ElementsAreArray(Join({{" ", " Start the programming: "}, GoodAttempt(true),
                                          kSuccessTail})));
  EXPECT_EQ(view.results, (std::vector<bool>{true, true}));
  EXPECT_GT(adapter.model().frames().size(), frames_before + 125);
  const auto expected = sim::FlashAfterUpdate(sim::AdapterConfig{}.bt_address);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), adapter.model().flash().begin()));
  EXPECT_FALSE(state().is_open());
}

TEST_F(UpdateTest, AnotherAdapterInTheSameRunKeepsItsOwnAddress) {
  const Address first = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
  const Address second = {0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6};
  sim::AdapterConfig one;
  one.bt_address = first;
  Attach(one, "COM3");
  Found("COM3");
  Press();
  ASSERT_EQ(facts().BtAddress, first);

  virtual_ports.Find("COM3")->set_present(false);
  sim::AdapterConfig two;
  two.bt_address = second;
  sim::VirtualAdapter& other = Attach(two, "COM4");
  Found("COM4");
  const auto log = Press();
  EXPECT_EQ(std::count(log.begin(), log.end(), " Check Device ..."), 1);
  EXPECT_EQ(view.results, (std::vector<bool>{true, true}));
  EXPECT_EQ(facts().BtAddress, second);
  const auto expected = sim::FlashAfterUpdate(second);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), other.model().flash().begin()));
}

// A press that failed after the erase wiped the identity page; the next press
// finds a blank page and still writes the address read the first time.
TEST_F(UpdateTest, AddressSurvivesAPressThatWipedTheIdentityPage) {
  sim::AdapterConfig config;
  config.bt_address = {0x42, 0x07, 0x00, 0x11, 0x22, 0x33};
  // Every attempt of the first press: page 1 goes unanswered twice.
  config.faults.ignore_kind[FlashWritePage] = 40;
  sim::VirtualAdapter& adapter = Attach(config);
  Found();
  Press();
  ASSERT_EQ(view.results, std::vector<bool>{false});
  const auto wiped = adapter.model().flash().subspan(0x7D000, 4096);
  ASSERT_TRUE(std::all_of(wiped.begin(), wiped.end(), [](uint8_t b) { return b == 0xFF; }));

  const auto log = Press();
  EXPECT_EQ(std::count(log.begin(), log.end(), " Check Device ..."), 1);
  EXPECT_EQ(view.results, (std::vector<bool>{false, true}));
  EXPECT_EQ(facts().BtAddress, config.bt_address);
  const auto expected = sim::FlashAfterUpdate(config.bt_address);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), adapter.model().flash().begin()));
}

}  // namespace
}  // namespace brivelton
