// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "support/host_bench.h"
#include "log/message_log.h"
#include "sim/virtual_serial.h"
#include "support/recording_view.h"
#include "support/scripted_peer.h"

namespace brivelton {
namespace {

using Bytes = std::vector<uint8_t>;

// The parameter protocol on one virtual port, with a scripted adapter behind
// it and the trace kept.
struct ProtocolFixture : testing::HostBench {
  int opens() { return virtual_ports.Find("COM3")->open_count(); }
  testing::ScriptedPeer& peer = Script();
};

const Bytes kReadOp4 = {0x58, 0x53, 0x07, 0x01, 0xEE, 0x04, 0x07, 0x00, 0x00, 0x00};

struct ReadCase {
  const char* name;
  int op;
  std::vector<Bytes> replies;  // one per attempt; empty = silence
  std::optional<uint32_t> result;  // none: the read failed
  bool port_open_after;
  int sequence_step;      // how far ParamSequence moves
  const char* trace;      // one trace line the read must leave
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ReadReplies : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadReplies, AreCheckedInOrder) {
  const ReadCase& c = GetParam();
  ProtocolFixture f;
  for (const Bytes& r : c.replies) f.peer.replies.push_back(r);
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  const uint8_t sequence = f.state().ParamSequence;

  EXPECT_EQ(f.params.ReadParameter(c.op), c.result);
  EXPECT_EQ(f.state().is_open(), c.port_open_after);
  EXPECT_EQ(f.state().ParamSequence, static_cast<uint8_t>(sequence + c.sequence_step));
  EXPECT_TRUE(f.Traced(c.trace)) << c.trace;
  // A whole reply that gave no value still shows the marker in the trace.
  if (!c.result && c.port_open_after && c.sequence_step == 1) {
    EXPECT_TRUE(f.Traced(" ==> done. get 1481857107"));
  }
  ASSERT_FALSE(f.peer.frames.empty());
  EXPECT_EQ(f.peer.frames[0], (Bytes{0x58, 0x53, 0x03, sequence, 0x03,
                                     static_cast<uint8_t>(c.op), 0x00}));
  EXPECT_TRUE(f.view.log.empty());
}

INSTANTIATE_TEST_SUITE_P(
    ReadParameter, ReadReplies,
    ::testing::Values(
        ReadCase{"HookSpeed7", 4, {kReadOp4}, 7, true, 1, " retval = 7"},
        ReadCase{"OffHookPower225", 5,
                 {{0x58, 0x53, 0x07, 0x01, 0xEE, 0x05, 0xE1, 0x00, 0x00, 0x00}}, 225, true, 1,
                 " ==> done. get 225"},
        ReadCase{"ValueIsLittleEndian32Bit", 9,
                 {{0x58, 0x53, 0x07, 0x01, 0xEE, 0x09, 0x78, 0x56, 0x34, 0x12}}, 0x12345678u,
                 true, 1, " retval = 305419896"},
        ReadCase{"Byte4NotEE", 4,
                 {{0x58, 0x53, 0x07, 0x01, 0xEF, 0x04, 0x07, 0x00, 0x00, 0x00}}, std::nullopt,
                 true, 1, " ACK error 07 01"},
        ReadCase{"Byte2Not07", 4,
                 {{0x58, 0x53, 0x87, 0x01, 0xEE, 0x04, 0x07, 0x00, 0x00, 0x00}}, std::nullopt,
                 true, 1, " ACK error 87 01"},
        ReadCase{"NoXS", 4,
                 {{0x53, 0x58, 0x07, 0x01, 0xEE, 0x04, 0x07, 0x00, 0x00, 0x00}}, std::nullopt,
                 true, 1, " Read error 53 58 07 01 ee"},
        // "XS" found one byte in: the value would run past the ten bytes read.
        ReadCase{"XSTooLate", 4,
                 {{0x00, 0x58, 0x53, 0x07, 0x01, 0xEE, 0x04, 0x07, 0x00, 0x00}}, std::nullopt,
                 true, 1, " Size error 1 10"},
        ReadCase{"EightBytesClosePort", 4, {{0x58, 0x53, 0x07, 0x01, 0xEE, 0x04, 0x07, 0x00}},
                 std::nullopt, false, 1, " read count not correct, need to stop the read"},
        ReadCase{"NineBytesClosePort", 4,
                 {{0x58, 0x53, 0x07, 0x01, 0xEE, 0x04, 0x07, 0x00, 0x00}}, std::nullopt, false, 1,
                 " read count not correct, need to stop the read"},
        ReadCase{"OneByteClosesPort", 4, {{0x58}}, std::nullopt, false, 1,
                 " read count not correct, need to stop the read"},
        ReadCase{"NoReplyLeavesPortOpen", 4, {{}, {}}, std::nullopt, true, 0,
                 " Fail read op 4"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadParameter, PortClosedByShortReplyIsReopenedByNextRead) {
  ProtocolFixture f;
  f.peer.replies.push_back({0x58, 0x53, 0x07});
  f.peer.replies.push_back(kReadOp4);
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  EXPECT_FALSE(f.params.ReadParameter(4));
  ASSERT_FALSE(f.state().is_open());
  EXPECT_EQ(f.params.ReadParameter(4), 7u);
  EXPECT_TRUE(f.state().is_open());
  EXPECT_EQ(f.opens(), 2);
}

TEST(ParamSequence, AdvancesOnlyAfterSuccessfulExchanges) {
  ProtocolFixture f;
  f.peer.replies = {kReadOp4, {}, {}, kReadOp4, Bytes(10, 0x00)};
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  EXPECT_EQ(f.state().ParamSequence, 1);
  EXPECT_EQ(f.params.ReadParameter(4), 7u);
  EXPECT_FALSE(f.params.ReadParameter(4));  // silent twice
  EXPECT_EQ(f.params.ReadParameter(4), 7u);
  EXPECT_TRUE(f.params.WriteParameter(4, 0));
  ASSERT_EQ(f.peer.frames.size(), 5u);
  const uint8_t sequence_bytes[] = {0x01, 0x02, 0x02, 0x02, 0x03};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(f.peer.frames[i][3], sequence_bytes[i]) << i;
  EXPECT_EQ(f.state().ParamSequence, 4);
}

TEST(ParamSequence, WrapsAt256) {
  ProtocolFixture f;
  f.peer.replies = {kReadOp4, Bytes(10, 0x00), kReadOp4};
  f.state().ParamSequence = 0xFF;
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  EXPECT_EQ(f.params.ReadParameter(4), 7u);
  EXPECT_EQ(f.state().ParamSequence, 0);
  f.state().ParamSequence = 0xFF;
  EXPECT_TRUE(f.params.WriteParameter(1, 1));
  EXPECT_EQ(f.params.ReadParameter(4), 7u);
  ASSERT_EQ(f.peer.frames.size(), 3u);
  EXPECT_EQ(f.peer.frames[0][3], 0xFF);
  EXPECT_EQ(f.peer.frames[1][3], 0xFF);
  EXPECT_EQ(f.peer.frames[2][3], 0x00);
}

TEST(WriteParameter, SendsSequenceOpAndLowByteOfValue) {
  ProtocolFixture f;
  f.state().ParamSequence = 2;
  // The reply's content is not examined: any ten bytes will do.
  f.peer.replies = {Bytes(10, 0xAA), Bytes(10, 0xAA)};
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  EXPECT_TRUE(f.params.WriteParameter(5, 2));
  EXPECT_TRUE(f.Traced(" set op 5 = 2"));
  EXPECT_TRUE(f.params.WriteParameter(8, 0x1201));
  ASSERT_EQ(f.peer.frames.size(), 2u);
  EXPECT_EQ(f.peer.frames[0], (Bytes{0x58, 0x53, 0x07, 0x02, 0x83, 0x05, 0x02, 0x00, 0x00, 0x00}));
  EXPECT_EQ(f.peer.frames[1], (Bytes{0x58, 0x53, 0x07, 0x03, 0x83, 0x08, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(f.state().ParamSequence, 4);
}

TEST(WriteParameter, UnansweredWriteFailsWithoutAdvancingSequence) {
  ProtocolFixture f;
  f.peer.replies = {{}, {}};
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  EXPECT_FALSE(f.params.WriteParameter(3, 1));
  EXPECT_TRUE(f.Traced(" Fail write op 3"));
  EXPECT_EQ(f.peer.frames.size(), 2u);  // the exchange's own retry
  EXPECT_EQ(f.state().ParamSequence, 1);
  EXPECT_TRUE(f.state().is_open());
  EXPECT_TRUE(f.view.log.empty());
}

TEST(WriteParameter, ShortReplyStillCountsAndKeepsPortOpen) {
  ProtocolFixture f;
  f.peer.replies = {{0x58, 0x53, 0x07}};
  ASSERT_EQ(f.link.ReopenFoundPort(), 1);
  EXPECT_TRUE(f.params.WriteParameter(4, 0));
  EXPECT_TRUE(f.state().is_open());
  EXPECT_EQ(f.state().ParamSequence, 2);
}

}  // namespace
}  // namespace brivelton
