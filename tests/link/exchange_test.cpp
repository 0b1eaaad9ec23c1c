// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "log/message_log.h"
#include "link/link_fixture.h"

namespace brivelton {
namespace {

using enum CommandKind;

using testing::Filled;
using testing::LinkFixture;
using Bytes = std::vector<uint8_t>;

TEST(Exchange, KindWithoutReplySucceedsRightAfterWrite) {
  LinkFixture f;
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  const uint64_t before = f.clock.NowUs();
  EXPECT_EQ(f.link.Exchange(BootCommandFE).ok, 1);
  EXPECT_EQ(f.clock.NowUs(), before);
  EXPECT_TRUE(f.ports.read_sizes.empty());
  ASSERT_EQ(f.peer.frames.size(), 1u);
}

struct PartialCase {
  const char* name;
  CommandKind kind;
  std::vector<Bytes> replies;  // one per attempt; empty = silence
  int result;
  size_t frames_sent;
};

void PrintTo(const PartialCase& c, std::ostream* os) { *os << c.name; }

class PartialReplies : public ::testing::TestWithParam<PartialCase> {};

TEST_P(PartialReplies, AreJudgedByKind) {
  const auto& c = GetParam();
  LinkFixture f;
  for (const auto& r : c.replies) f.peer.replies.push_back(r);
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  EXPECT_EQ(f.link.Exchange(c.kind).ok, c.result);
  EXPECT_EQ(f.peer.frames.size(), c.frames_sent);
}

const Bytes kWrongSpeedReply = {0x04, 0x0E, 0x05, 0x01, 0xE0, 0xFC};

INSTANTIATE_TEST_SUITE_P(
    Exchange, PartialReplies,
    ::testing::Values(
        PartialCase{"LinkCheckFull", LinkCheck, {Filled(8)}, 1, 1},
        PartialCase{"LinkCheckFiveOfEight", LinkCheck, {Filled(5)}, 1, 1},
        PartialCase{"LinkCheckSilentTwice", LinkCheck, {{}, {}}, 0, 2},
        PartialCase{"LinkCheckSilentThenAnswer", LinkCheck, {{}, Filled(8)}, 1, 2},
        PartialCase{"ReadPageShort", FlashReadPage, {Filled(4000)}, 0, 1},
        PartialCase{"ReadPageFull", FlashReadPage, {Filled(4110)}, 1, 1},
        PartialCase{"SetBaudWrongSpeedTwice", SetBaud1M, {kWrongSpeedReply, kWrongSpeedReply},
                    0, 2},
        PartialCase{"SetBaudWrongSpeedThenFull", SetBaud1M, {kWrongSpeedReply, Filled(12)}, 1,
                    2},
        PartialCase{"SetBaudOtherPartial", SetBaud1M, {Bytes{0x04, 0x0E, 0x0C, 0x01}}, 1, 1},
        PartialCase{"ChecksumShort", FlashChecksum, {Filled(9)}, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A short SetBaud1M reply is told from the wrong-speed answer by its own
// bytes: 04 0E 05 in an earlier reply proves nothing.
TEST(Exchange, SetBaudPartialReplyIsJudgedOnItsOwnBytesOnly) {
  struct Case {
    const char* name;
    Bytes reply;
    int result;
    size_t set_baud_frames;
  };
  const Case cases[] = {
      {"TwoBytesOverStaleMarker", {0x04, 0x0E}, 1, 1},
      {"OneByteOverStaleMarker", {0x04}, 1, 1},
      {"WholeMarkerDelivered", {0x04, 0x0E, 0x05}, 0, 2},
  };
  for (const auto& c : cases) {
    LinkFixture f;
    f.peer.replies.push_back(kWrongSpeedReply);  // an earlier command's reply
    f.peer.replies.push_back(c.reply);
    f.peer.replies.push_back(c.reply);
    ASSERT_EQ(f.link.ReopenFoundPort(), 1);
    ASSERT_EQ(f.link.Exchange(BootHandshake).bytes()[2], 0x05) << c.name;
    EXPECT_EQ(f.link.Exchange(SetBaud1M).ok, c.result) << c.name;
    EXPECT_EQ(f.peer.frames.size() - 1, c.set_baud_frames) << c.name;
  }
}

TEST(Exchange, LongReplyIsReadIn256ByteChunksAndOnly64BytesKept) {
  LinkFixture f;
  f.peer.replies.push_back(Filled(4110, 0x10));
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  f.ports.read_sizes.clear();
  const Reply reply = f.link.Exchange(FlashReadPage);
  ASSERT_TRUE(reply.ok);
  EXPECT_TRUE(reply.whole());
  EXPECT_EQ(reply.received, 4110);
  const auto chunk_starts = std::count_if(f.ports.read_sizes.begin(), f.ports.read_sizes.end(),
                                          [](size_t n) { return n == 256 || n == 14; });
  EXPECT_EQ(chunk_starts, 17);
  const Bytes first64 = Filled(64, 0x10);
  EXPECT_TRUE(std::ranges::equal(reply.bytes(), first64));
}

// A short reply passes for most kinds, and says it is short; nothing of the
// longer reply before it shows through.
TEST(Exchange, ShortReplyHoldsOnlyItsOwnBytes) {
  LinkFixture f;
  f.peer.replies.push_back(Filled(33, 0x40));
  f.peer.replies.push_back(Filled(5, 0x90));
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  ASSERT_TRUE(f.link.Exchange(QueryVersion).whole());
  const Reply reply = f.link.Exchange(LinkCheck);
  ASSERT_TRUE(reply.ok);
  EXPECT_FALSE(reply.whole());
  EXPECT_EQ(reply.received, 5);
  EXPECT_TRUE(std::ranges::equal(reply.bytes(), Filled(5, 0x90)));
  EXPECT_EQ(reply.start[5], 0x00);
  EXPECT_EQ(reply.start[32], 0x00);
}

TEST(Exchange, PendingInputIsReadAsTheStartOfTheNextReply) {
  LinkFixture f;
  Bytes first = Filled(8, 0x01);
  first.insert(first.end(), {0xE1, 0xE2, 0xE3});  // three bytes more than expected
  f.peer.replies.push_back(first);
  f.peer.replies.push_back(Filled(8, 0x50));
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  ASSERT_EQ(f.link.Exchange(LinkCheck).ok, 1);
  const Reply next = f.link.Exchange(LinkCheck);
  ASSERT_EQ(next.ok, 1);
  const auto buffer = next.bytes();
  EXPECT_EQ((Bytes{buffer[0], buffer[1], buffer[2], buffer[3]}),
            (Bytes{0xE1, 0xE2, 0xE3, 0x50}));
}

TEST(Exchange, ReopensTheFoundPortWhenNoneIsOpen) {
  LinkFixture f([](const Bytes&) { return Filled(8); });
  ASSERT_FALSE(f.link.state().is_open());
  EXPECT_EQ(f.link.Exchange(LinkCheck).ok, 1);
  EXPECT_EQ(f.ports.opened, std::vector<std::string>{"COM3"});
  EXPECT_TRUE(f.link.state().is_open());
  EXPECT_EQ(f.line->host_baud(), 115200u);
}

TEST(Exchange, BurstsSendTheirFramesFourMillisecondsApartWithoutReading) {
  for (auto [kind, count] : {std::pair{HandshakeBurstLong, 101}, {HandshakeBurstShort, 11}}) {
    LinkFixture f([](const Bytes&) { return Filled(8); });  // answers are left unread
    ASSERT_EQ(f.link.ReopenFoundPort(), 1);
    const uint64_t before = f.clock.NowMs();
    EXPECT_EQ(f.link.Exchange(kind).ok, 1);
    EXPECT_EQ(f.peer.frames.size(), static_cast<size_t>(count));
    for (const auto& frame : f.peer.frames)
      EXPECT_EQ(frame, (Bytes{0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55}));
    EXPECT_EQ(f.clock.NowMs() - before, static_cast<uint64_t>(count) * 4);
    EXPECT_TRUE(f.ports.read_sizes.empty());
  }
}

TEST(Exchange, FailedWriteIsReported) {
  LinkFixture f;
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  f.line->set_hung_up(true);
  EXPECT_EQ(f.link.Exchange(LinkCheck).ok, 0);
  EXPECT_EQ(f.view.log, std::vector<std::string>{" Write file error"});
}

// A write that comes up short is only traced: the reply is still awaited, and
// whatever the adapter made of the cut frame decides the exchange.
TEST(Exchange, ShortWriteIsTracedAndTheReplyStillAwaited) {
  LinkFixture f;
  f.peer.replies.push_back(Filled(8));
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  f.ports.faults.write_limit = 3;
  EXPECT_EQ(f.link.SendFrame(LinkCheck), 8);
  EXPECT_TRUE(f.trace.Traced(" CMD 1 Write error 3 5\n"));
  ASSERT_EQ(f.peer.frames.size(), 1u);
  EXPECT_EQ(f.peer.frames[0], (Bytes{0x01, 0xE0, 0xFC}));
  EXPECT_TRUE(f.view.log.empty());
  EXPECT_EQ(f.link.ReadReply(8).received, 8);
}

TEST(Exchange, SilenceCostsTheReadAttemptsOfTheKind) {
  // Each read attempt waits (expected + 1) ms, then 10 ms; two attempts.
  struct Case {
    CommandKind kind;
    uint64_t ms;
  };
  const Case cases[] = {{LinkCheck, 2 * 10 * (9 + 10)},
                        {FlashErase, 2 * 30 * (17 + 10)},
                        {FlashChecksum, 2 * 100 * (12 + 10)}};
  for (const auto& c : cases) {
    LinkFixture f;
    ASSERT_EQ(f.link.ReopenFoundPort(), 1);
    const uint64_t before = f.clock.NowMs();
    EXPECT_EQ(f.link.Exchange(c.kind).ok, 0);
    EXPECT_EQ(f.clock.NowMs() - before, c.ms) << KindName(c.kind);
    EXPECT_TRUE(f.view.log.empty());
  }
}

TEST(Exchange, TracesEachAttempt) {
  LinkFixture f;
  f.peer.replies.push_back({});
  f.peer.replies.push_back(Filled(8));
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  EXPECT_EQ(f.link.Exchange(LinkCheck).ok, 1);
  const auto& traces = f.trace.lines;
  const std::vector<std::string> expected_tail = {
      "===> loop=10, R exp=8, get=0 ", " cmd = 1, loop = 1, readcnt = 0\n",
      "===> R exp=8, get=8 ", " cmd = 1, loop = 2, readcnt = 8\n"};
  ASSERT_GE(traces.size(), expected_tail.size());
  EXPECT_EQ(std::vector<std::string>(traces.end() - 4, traces.end()), expected_tail);
}

}  // namespace
}  // namespace brivelton

namespace brivelton {
namespace {

// Answers every write in two parts, the second after the first chunk's
// read attempts have given up.
class SplitPeer : public VirtualPeer {
 public:
  void OnHostBytes(VirtualLine& line, std::span<const uint8_t>,
                   std::span<const uint64_t> arrival_us, uint32_t baud) override {
    const uint64_t t = arrival_us.back();
    for (int i = 0; i < 3; ++i) line.SendToHost(t + 100 + i * 87, static_cast<uint8_t>(0x70 + i), baud);
    for (int i = 0; i < 5; ++i)
      line.SendToHost(t + 250'000 + i * 87, static_cast<uint8_t>(0x80 + i), baud);
  }
};

TEST(Exchange, OnlyTheFirstChunkIsKept) {
  SplitPeer split;  // outlives the port, which tells it of the close
  testing::LinkFixture f;
  f.line->set_peer(&split);
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  const Reply reply = f.link.Exchange(LinkCheck);
  ASSERT_TRUE(reply.whole());
  EXPECT_EQ(reply.received, 8);
  EXPECT_TRUE(std::ranges::equal(reply.bytes(), Bytes{0x70, 0x71, 0x72}));
}

}  // namespace
}  // namespace brivelton
