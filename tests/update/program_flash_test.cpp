// SPDX-License-Identifier: MIT
// Boot-mode entry, identity read and flash programming against a scripted far
// end, where each reply (or its absence) is chosen by the test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "support/host_bench.h"
#include "sim/virtual_serial.h"
#include "support/recording_view.h"
#include "support/scripted_peer.h"
#include "resources/firmware_image.h"
#include "update/identity_page.h"

namespace brivelton {
namespace {

using enum CommandKind;

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::RecordingView;
using testing::ScriptedPeer;

// Answers every frame with a reply of its full length, unless `withhold`
// says otherwise or `answer` gives one of its own. The frame's kind is read
// back from the link, which SendFrame set just before writing.
struct ScriptedBootLoader : ::testing::Test, testing::HostBench {
  ScriptedBootLoader() { EXPECT_EQ(link.ReopenFoundPort(), 1); }

  std::vector<uint8_t> Respond(const std::vector<uint8_t>& frame) {
    const CommandKind kind = *state().LastKind;
    // The identity page as written, for the read-back after the checksum.
    if (kind == WriteIdentityPage && frame.size() >= 12 + size_t{kPageSize})
      identity.assign(frame.begin() + 12, frame.begin() + 12 + kPageSize);
    kinds.push_back(kind);
    const int n = ++sent[kind];
    if (withhold && withhold(kind, n)) return {};
    if (answer) {
      auto custom = answer(kind, n);
      if (custom) return *custom;
    }
    std::vector<uint8_t> reply(ExpectedReplyLength(kind), 0x00);
    if (reply.size() >= 3) reply[0] = 0x04, reply[1] = 0x0E, reply[2] = 0x01;
    if (kind == FlashChecksum)
      std::copy(BuiltInImage().checksum().begin(), BuiltInImage().checksum().end(), reply.begin() + 7);
    if (kind == FlashReadPage && !identity.empty())
      std::copy(identity.begin(), identity.begin() + (reply.size() - kPageDataOffset),
                reply.begin() + kPageDataOffset);
    return reply;
  }

  const std::vector<std::string>& Log() const { return view.log; }

  std::function<bool(CommandKind kind, int nth)> withhold;
  std::function<std::optional<std::vector<uint8_t>>(CommandKind kind, int nth)> answer;
  std::map<CommandKind, int> sent;  // frames of each kind so far
  std::vector<CommandKind> kinds;   // every frame's kind, in order
  std::vector<uint8_t> identity;    // the identity page last written

  ScriptedPeer& peer =
      Script([this](const std::vector<uint8_t>& frame) { return Respond(frame); });
};

// The boot loader talks at 1,000,000 baud once EnterBootMode is through.
struct ProgramFlashTest : ScriptedBootLoader {
  ProgramFlashTest() { EXPECT_EQ(link.ConfigurePort(1000000), 1); }
};

TEST_F(ProgramFlashTest, GoodRunSendsTheFixedOrderAndLogsEachStage) {
  ASSERT_TRUE(updater.ProgramFlash());
  EXPECT_THAT(Log(), ElementsAre(" Erase flash ..........", " Done", " Write flash ..........",
                                 " Done", " Verify flash ..........", " Done"));
  std::vector<CommandKind> expected = {FlashReadStatus, FlashWriteStatus, FlashReadStatus};
  expected.insert(expected.end(), 30, FlashErase);
  expected.insert(expected.end(), 124, FlashWritePage);
  expected.insert(expected.end(),
                  {WriteIdentityPage, FlashWritePage, FlashChecksum, FlashReadPage});
  EXPECT_EQ(kinds, expected);

  std::vector<int> erase, write;
  for (const auto& p : view.progress) {
    if (p.stage == UpdateStage::kErase) {
      EXPECT_EQ(p.total, 30);
      erase.push_back(p.done);
    } else if (p.stage == UpdateStage::kWrite) {
      EXPECT_EQ(p.total, 125);
      write.push_back(p.done);
    }
  }
  std::vector<int> one_to_30(30), one_to_125(125);
  std::iota(one_to_30.begin(), one_to_30.end(), 1);
  std::iota(one_to_125.begin(), one_to_125.end(), 1);
  EXPECT_EQ(erase, one_to_30);
  EXPECT_EQ(write, one_to_125);
  ASSERT_FALSE(view.progress.empty());
  EXPECT_EQ(view.progress.back().stage, UpdateStage::kVerify);
}

TEST_F(ProgramFlashTest, FramesCarryTheirBlockAndPage) {
  peer.frames.clear();
  ASSERT_TRUE(updater.ProgramFlash());
  // Erase blocks 0, 15, 16 and 29; pages 1, 0x7C, then the identity page and page 0.
  const auto& f = peer.frames;
  ASSERT_EQ(f.size(), 3u + 30 + 124 + 4);
  EXPECT_THAT(f[3], ElementsAre(0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x06, 0x00, 0x0F, 0xD8, 0, 0, 0x00, 0));
  EXPECT_THAT(f[3 + 15], ElementsAre(0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x06, 0x00, 0x0F, 0xD8, 0, 0, 0x0F, 0));
  EXPECT_THAT(f[3 + 16], ElementsAre(0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x06, 0x00, 0x0F, 0x20, 0, 0x00, 0x0F, 0));
  EXPECT_THAT(f[3 + 29], ElementsAre(0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x06, 0x00, 0x0F, 0x20, 0, 0xD0, 0x0F, 0));
  auto page_write = [&](size_t i, uint32_t address, std::span<const uint8_t> data) {
    ASSERT_EQ(f[i].size(), 4108u) << i;
    EXPECT_THAT(std::vector<uint8_t>(f[i].begin(), f[i].begin() + 12),
                ElementsAre(0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x10, 0x07, address & 0xFF,
                            (address >> 8) & 0xFF, (address >> 16) & 0xFF, 0)) << i;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), f[i].begin() + 12)) << i;
  };
  page_write(33, 0x1000, BuiltInImage().Page(1));
  page_write(33 + 123, 0x7C000, BuiltInImage().Page(124));
  page_write(33 + 124, 0x7D000, BuildIdentityPage(facts().BtAddress));
  page_write(33 + 125, 0x0000, BuiltInImage().Page(0));
}

// The checksum ends below the identity page: a page stored wrong fails the
// attempt however good the checksum, and so does one that can't be read.
TEST_F(ProgramFlashTest, AnIdentityPageReadBackWrongFailsTheAttempt) {
  const auto written = BuildIdentityPage(facts().BtAddress);
  struct Case {
    const char* what;
    size_t byte;  // of the page, spoiled in the read-back
    bool result;
  };
  const Case cases[] = {{"address byte 0", 0, false},
                        {"address byte 5", 5, false},
                        {"name", 9, false},
                        {"the name's NUL", 20, false},
                        {"past the name: not compared", 30, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    view.log.clear();
    answer = [&](CommandKind kind, int) -> std::optional<std::vector<uint8_t>> {
      if (kind != FlashReadPage) return std::nullopt;
      std::vector<uint8_t> reply(ExpectedReplyLength(kind), 0x00);
      std::copy(written.begin(), written.begin() + static_cast<long>(reply.size() - kPageDataOffset),
                reply.begin() + kPageDataOffset);
      reply[kPageDataOffset + c.byte] ^= 0x01;
      return reply;
    };
    EXPECT_EQ(updater.ProgramFlash(), c.result);
    EXPECT_EQ(Log().back(), c.result ? " Done" : " Identity page read back wrong");
    EXPECT_EQ(kinds.back(), FlashReadPage);
  }
}

struct FailCase {
  const char* what;
  CommandKind kind;
  int nth;  // which frame of that kind goes unanswered
  const char* message;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.what; }

class ProgramFlashFailure : public ProgramFlashTest,
                            public ::testing::WithParamInterface<FailCase> {};

TEST_P(ProgramFlashFailure, StopsAtOnceWithItsMessage) {
  const FailCase& c = GetParam();
  // Both attempts of the exchange go unanswered.
  withhold = [&](CommandKind kind, int n) {
    return kind == c.kind && (n == c.nth || n == c.nth + 1);
  };
  EXPECT_FALSE(updater.ProgramFlash());
  ASSERT_FALSE(Log().empty());
  EXPECT_EQ(Log().back(), c.message);
  EXPECT_EQ(kinds.back(), c.kind);
  EXPECT_EQ(sent[c.kind], c.nth + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ProgramFlashFailure,
    ::testing::Values(FailCase{"unlock1", FlashReadStatus, 1, " Fail on EN_FLASH_WR_1"},
                      FailCase{"unlock2", FlashWriteStatus, 1, " Fail on EN_FLASH_WR_2"},
                      FailCase{"unlock3", FlashReadStatus, 2, " Fail on EN_FLASH_WR_1"},
                      FailCase{"erase0", FlashErase, 1, " Fail to erase flash block: 0"},
                      FailCase{"erase29", FlashErase, 30, " Fail to erase flash block: 29"},
                      FailCase{"page1", FlashWritePage, 1, " Fail to write flash add:1"},
                      FailCase{"page1a", FlashWritePage, 0x1A, " Fail to write flash add:1a"},
                      FailCase{"page7c", FlashWritePage, 0x7C, " Fail to write flash add:7c"},
                      FailCase{"identity", WriteIdentityPage, 1, " Fail to write BlueTooth info"},
                      FailCase{"page0", FlashWritePage, 125, " Fail to write flash add 0\n"},
                      FailCase{"verify", FlashChecksum, 1, " Fail to verify flash"},
                      FailCase{"readback", FlashReadPage, 1,
                               " Identity page could not be read back"}),
    ::testing::PrintToStringParamName());

TEST_F(ProgramFlashTest, ChecksumIsComparedOnlyOnAWholeReply) {
  const auto& good = BuiltInImage().checksum();
  struct Case {
    const char* what;
    std::vector<uint8_t> reply;
    bool result;
  };
  std::vector<uint8_t> whole = {0x04, 0x0E, 0x08, 0x01, 0xE0, 0xFC, 0x00,
                                good[0], good[1], good[2], good[3]};
  std::vector<uint8_t> last_byte_off = whole;
  last_byte_off[10] ^= 0x01;
  std::vector<uint8_t> first_byte_off = whole;
  first_byte_off[7] ^= 0x80;
  // Short replies whose missing bytes the page-0 reply before them left in
  // the buffer with the right values.
  const std::vector<uint8_t> nine(whole.begin(), whole.begin() + 9);
  const std::vector<uint8_t> seven(whole.begin(), whole.begin() + 7);
  std::vector<uint8_t> page0_reply = whole;
  page0_reply.resize(15, 0x00);
  const std::vector<Case> cases = {{"whole", whole, true},
                                   {"last byte off", last_byte_off, false},
                                   {"first byte off", first_byte_off, false},
                                   {"nine bytes", nine, false},
                                   {"seven bytes", seven, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    view.log.clear();
    trace.lines.clear();
    sent.clear();
    answer = [&](CommandKind kind, int n) -> std::optional<std::vector<uint8_t>> {
      if (kind == FlashChecksum) return c.reply;
      if (kind == FlashWritePage && n == 125) return page0_reply;
      return std::nullopt;
    };
    EXPECT_EQ(updater.ProgramFlash(), c.result);
    // A good checksum is followed by the identity page's read-back.
    if (!c.result) {
      EXPECT_TRUE(Traced(" cmd = 17, loop = 1, readcnt = " + std::to_string(c.reply.size()) +
                         "\n"));
    }
    if (c.result) {
      EXPECT_EQ(Log().back(), " Done");
      EXPECT_EQ(kinds.back(), FlashReadPage);
    } else {
      EXPECT_THAT(std::vector<std::string>(Log().end() - 2, Log().end()),
                  ElementsAre(" Done", " !!!!! CRC error !!!!! "));
    }
  }
}

TEST_F(ScriptedBootLoader, ReadIdentityTakesTheAddressOnlyFromANamedPage) {
  struct Case {
    const char* what;
    std::vector<uint8_t> page_start;  // page bytes 0.. of the reply
    std::array<uint8_t, 6> before;
    std::array<uint8_t, 6> after;
  };
  // Nothing saved anywhere: the start-up address goes on, and the log says so.
  const std::string startup_line = StartUpAddressLine(nullptr);
  const std::array<uint8_t, 6> start = {0x00, 0x01, 0x00, 0x03, 0x04, 0x06};
  const std::array<uint8_t, 6> other = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  const std::vector<Case> cases = {
      {"named page", {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 'B', 'r', 'i'}, start, other},
      {"blank page", std::vector<uint8_t>(9, 0xFF), start, start},
      {"blank page keeps an address read before", std::vector<uint8_t>(9, 0xFF), other, other},
      {"foreign page", {1, 2, 3, 4, 5, 6, 'B', 'x', 'i'}, start, start},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    view.log.clear();
    AfterIdentityRead(c.before, false);
    answer = [&](CommandKind kind, int) -> std::optional<std::vector<uint8_t>> {
      if (kind != FlashReadPage) return std::nullopt;
      std::vector<uint8_t> reply(4110, 0xFF);
      std::copy(c.page_start.begin(), c.page_start.end(), reply.begin() + 15);
      return reply;
    };
    EXPECT_TRUE(updater.ReadIdentity());
    EXPECT_EQ(facts().BtAddress, c.after);
    EXPECT_TRUE(facts().IdentityRead);
    if (c.after == start) {
      EXPECT_THAT(Log(), ElementsAre(" Check Device ...", startup_line));
    } else {
      EXPECT_THAT(Log(), ElementsAre(" Check Device ..."));
    }
  }
  EXPECT_THAT(std::vector<uint8_t>(peer.frames.back()),
              ElementsAre(0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x00, 0x09, 0x00, 0xD0, 0x07, 0x00));
}

// Bytes left over from an earlier reply shift the page: taken for a blank
// page, the update would write the start-up address over the adapter's own.
TEST_F(ScriptedBootLoader, ReadIdentityFailsOnAShiftedPage) {
  for (int shift : {1, 7, 33}) {
    answer = [&](CommandKind kind, int) -> std::optional<std::vector<uint8_t>> {
      if (kind != FlashReadPage) return std::nullopt;
      std::vector<uint8_t> reply(4110, 0xFF);
      const auto page = BuildIdentityPage({0x11, 0x22, 0x33, 0x44, 0x55, 0x66});
      std::copy(page.begin(), page.begin() + 4095, reply.begin() + 15);
      reply.insert(reply.begin(), static_cast<size_t>(shift), 0x5A);
      reply.resize(4110);
      return reply;
    };
    const size_t before = Log().size();
    EXPECT_FALSE(updater.ReadIdentity()) << shift;
    EXPECT_FALSE(facts().IdentityRead);
    EXPECT_EQ(facts().BtAddress, kDefaultBtAddress);
    EXPECT_THAT(std::vector<std::string>(Log().begin() + static_cast<long>(before), Log().end()),
                ElementsAre(" Check Device ...", " Fail to read flash data from device !!! "));
  }
}

TEST_F(ScriptedBootLoader, ReadIdentityFailsOnAShortPage) {
  AfterIdentityRead(kDefaultBtAddress, true);
  answer = [&](CommandKind kind, int) -> std::optional<std::vector<uint8_t>> {
    if (kind != FlashReadPage) return std::nullopt;
    std::vector<uint8_t> reply(4000, 0x00);
    reply[21] = 'B', reply[22] = 'r';
    return reply;
  };
  EXPECT_FALSE(updater.ReadIdentity());
  EXPECT_FALSE(facts().IdentityRead);
  EXPECT_EQ(facts().BtAddress, kDefaultBtAddress);
  EXPECT_THAT(Log(), ElementsAre(" Check Device ...", " Fail to read flash data from device !!! "));
}

TEST_F(ScriptedBootLoader, EnterBootModeLogsOnlyTheFailedLinkCheck) {
  struct Case {
    const char* what;
    std::optional<CommandKind> kind;  // withheld every time
    bool result;
    std::vector<CommandKind> kinds;
    std::vector<std::string> log;
  };
  const std::vector<Case> cases = {
      {"all answered", std::nullopt, true, {LinkCheck, BootHandshake, SetBaud1M}, {}},
      {"silent link",
       LinkCheck,
       false,
       {LinkCheck, LinkCheck, ResetStepA, ResetStepB, ResetStepA, ResetStepB, LinkCheck,
        LinkCheck},
       {" Fail to enter boot mode"}},
      {"no baud change", SetBaud1M, false, {LinkCheck, BootHandshake, SetBaud1M, SetBaud1M}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    view.log.clear();
    kinds.clear();
    link.ClosePort();
    ASSERT_EQ(link.ReopenFoundPort(), 1);
    withhold = [&](CommandKind kind, int) { return kind == c.kind; };
    EXPECT_EQ(updater.EnterBootMode(), c.result);
    EXPECT_EQ(kinds, c.kinds);
    EXPECT_EQ(Log(), c.log);
  }
}

// A port that cannot take the boot loader's speed ends every attempt there:
// the flash commands are never sent at the firmware's speed.
TEST_F(ScriptedBootLoader, PortThatCannotTakeTheHighSpeedEndsEachAttempt) {
  ports.faults.timeouts_fail_at_baud = 1000000;
  EXPECT_FALSE(updater.EnterBootMode());
  EXPECT_EQ(kinds, (std::vector<CommandKind>{LinkCheck, BootHandshake, SetBaud1M}));
  EXPECT_EQ(Log(), std::vector<std::string>{"    Error! in Setting Time Outs"});

  EXPECT_EQ(updater.ProgramDevice(), UpdateOutcome::kFailed);
  for (auto kind : {FlashReadPage, FlashReadStatus, FlashWriteStatus, FlashErase, FlashWritePage,
                   WriteIdentityPage, FlashChecksum})
    EXPECT_EQ(sent[kind], 0) << KindName(kind);
  EXPECT_EQ(Log().back(), " Please re-install the device and try again.");
}

TEST_F(ScriptedBootLoader, EnterBootModeFloodsHandshakesWhenTheFirstGoesUnanswered) {
  // Handshakes are answered only after the FE command.
  withhold = [&](CommandKind kind, int) {
    return kind == BootHandshake && sent[BootCommandFE] == 0;
  };
  EXPECT_TRUE(updater.EnterBootMode());
  std::vector<CommandKind> expected = {LinkCheck, BootHandshake, BootHandshake};
  expected.insert(expected.end(), 101, HandshakeBurstLong);
  expected.push_back(BootCommandFE);
  expected.insert(expected.end(), 11, HandshakeBurstShort);
  expected.insert(expected.end(), {BootHandshake, SetBaud1M});
  EXPECT_EQ(kinds, expected);
  EXPECT_TRUE(view.log.empty());
  EXPECT_EQ(virtual_ports.Find("COM3")->host_baud(), 1000000u);

  // A second refusal ends the attempt without a word.
  kinds.clear();
  sent.clear();
  withhold = [&](CommandKind kind, int) { return kind == BootHandshake; };
  link.ClosePort();
  ASSERT_EQ(link.ReopenFoundPort(), 1);
  EXPECT_FALSE(updater.EnterBootMode());
  EXPECT_EQ(sent[BootHandshake], 4);
  EXPECT_EQ(kinds.back(), BootHandshake);
  EXPECT_TRUE(view.log.empty());
}

}  // namespace
}  // namespace brivelton
