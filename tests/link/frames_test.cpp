// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "link/frames.h"

namespace brivelton {
namespace {

using enum CommandKind;

using Bytes = std::vector<uint8_t>;

struct FixedFrame {
  CommandKind kind;
  Bytes bytes;
  int reply;
};

// Kind and bytes, so that a failing row is found in the table at a glance.
void PrintTo(const FixedFrame& c, std::ostream* os) {
  *os << "kind " << KindNumber(c.kind) << " {";
  for (size_t i = 0; i < c.bytes.size(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%s%02X", i ? " " : "", c.bytes[i]);
    *os << hex;
  }
  *os << "}";
}

class FixedFrames : public ::testing::TestWithParam<FixedFrame> {};

TEST_P(FixedFrames, BytesAndReplyLength) {
  const auto& c = GetParam();
  EXPECT_EQ(BuildFrame(c.kind), c.bytes);
  EXPECT_EQ(ExpectedReplyLength(c.kind), c.reply);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, FixedFrames,
    ::testing::Values(
        FixedFrame{LinkCheck, {0x01, 0xE0, 0xFC, 0x01, 0x00}, 8},
        FixedFrame{BootHandshake, {0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55}, 8},
        FixedFrame{HandshakeBurstLong, {0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55}, 0},
        FixedFrame{HandshakeBurstShort, {0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55}, 0},
        FixedFrame{BootCommandFE, {0x01, 0xE0, 0xFC, 0x05, 0xFE, 0x95, 0x27, 0x95, 0x27}, 0},
        FixedFrame{SetBaud1M, {0x01, 0xE0, 0xFC, 0x06, 0x0F, 0x40, 0x42, 0x0F, 0x00, 0x0F}, 12},
        FixedFrame{ResetStepA,
                   {0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80, 0xF4, 0x00, 0x01, 0x00, 0x5A, 0x00},
                   15},
        FixedFrame{ResetStepB,
                   {0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80, 0xF4, 0x00, 0x01, 0x00, 0xA5, 0x00},
                   5},
        FixedFrame{FlashReadStatus, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x02, 0x00, 0x0C, 0x05}, 13},
        FixedFrame{FlashWriteStatus,
                   {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x03, 0x00, 0x0D, 0x01, 0x00}, 13},
        FixedFrame{FlashChecksum,
                   {0x01, 0xE0, 0xFC, 0x09, 0x10, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xCF, 0x07, 0x00},
                   11},
        FixedFrame{QueryVersion, {0x2F, 0x76}, 33},
        FixedFrame{CommandKind{6}, {}, 0}, FixedFrame{CommandKind{0}, {}, 0},
        FixedFrame{CommandKind{25}, {}, 0}),
    [](const auto& info) { return "Kind" + std::to_string(KindNumber(info.param.kind)); });

TEST(Frames, EraseBlocksCarryOpAndAddress) {
  struct Case {
    int block;
    uint8_t op;
    uint32_t address;
  };
  const Case cases[] = {{0, 0xD8, 0x000000},  {7, 0xD8, 0x070000},  {15, 0xD8, 0x0F0000},
                        {16, 0x20, 0x0F0000}, {17, 0x20, 0x0F1000}, {29, 0x20, 0x0FD000}};
  for (const auto& c : cases) {
    FrameArgs args;
    args.erase_block = c.block;
    const Bytes expected = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x06, 0x00, 0x0F, c.op,
                            static_cast<uint8_t>(c.address),
                            static_cast<uint8_t>(c.address >> 8),
                            static_cast<uint8_t>(c.address >> 16), 0x00};
    EXPECT_EQ(BuildFrame(FlashErase, args), expected) << "block " << c.block;
    EXPECT_EQ(ExpectedReplyLength(FlashErase), 16);
  }
}

// A page unlike any image: each byte tells its place and the page it is in.
Bytes MarkedPage(int page) {
  Bytes bytes(kPageSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + page);
  return bytes;
}

TEST(Frames, PageWritesCarryAddressAndTheGivenPage) {
  for (int page : {0, 1, 0x1A, 124}) {
    FrameArgs args;
    args.page_index = page;
    const Bytes data = MarkedPage(page);
    args.page = data;
    const Bytes frame = BuildFrame(FlashWritePage, args);
    ASSERT_EQ(frame.size(), 4108u);
    const uint32_t address = static_cast<uint32_t>(page) * 0x1000;
    const Bytes header = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x10, 0x07,
                          static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                          static_cast<uint8_t>(address >> 16), 0x00};
    EXPECT_TRUE(std::equal(header.begin(), header.end(), frame.begin())) << page;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), frame.begin() + 12)) << page;
  }
  EXPECT_EQ(ExpectedReplyLength(FlashWritePage), 15);
}

TEST(Frames, IdentityPageWriteGoesToTheIdentityAddressWhateverThePageIndex) {
  FrameArgs args;
  args.page_index = 3;
  const Bytes page = MarkedPage(9);
  args.page = page;
  const Bytes frame = BuildFrame(WriteIdentityPage, args);
  ASSERT_EQ(frame.size(), 4108u);
  const Bytes header = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x10, 0x07, 0x00, 0xD0, 0x07, 0x00};
  EXPECT_TRUE(std::equal(header.begin(), header.end(), frame.begin()));
  EXPECT_TRUE(std::equal(page.begin(), page.end(), frame.begin() + 12));
}

// The rows the exchange depends on besides the reply lengths: how long it
// waits for a reply, and that every kind is named once. The numbers are
// pinned: the trace shows them.
TEST(Frames, CatalogueRowsAreUniqueAndWaitLongerForSlowCommands) {
  std::vector<int> numbers;
  std::vector<std::string> names;
  for (const CommandEntry& command : CommandCatalogue()) {
    numbers.push_back(KindNumber(command.kind));
    names.push_back(command.name);
    EXPECT_EQ(FindCommand(command.kind), &command);
    EXPECT_STREQ(KindName(command.kind), command.name);
  }
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4, 5, 7, 9, 10, 11, 12, 13, 14, 15, 17, 18, 22,
                                       23, 24}));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
  EXPECT_EQ(ReadAttempts(FlashChecksum), 100);
  EXPECT_EQ(ReadAttempts(FlashErase), 30);
  for (std::optional<CommandKind> kind :
       {std::optional(LinkCheck), std::optional(FlashWritePage), std::optional(FlashReadPage),
        std::optional(ParamRead), std::optional<CommandKind>(), std::optional(CommandKind{6})})
    EXPECT_EQ(ReadAttempts(kind), 10) << KindName(kind);
  EXPECT_EQ(FindCommand(CommandKind{6}), nullptr);
  EXPECT_STREQ(KindName(CommandKind{6}), "unknown");
  EXPECT_STREQ(KindName(std::nullopt), "unknown");
}

TEST(Frames, PageReadAndParameterFrames) {
  FrameArgs args;
  args.read_address = 0x7D000;
  EXPECT_EQ(BuildFrame(FlashReadPage, args),
            (Bytes{0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x00, 0x09, 0x00, 0xD0, 0x07, 0x00}));
  EXPECT_EQ(ExpectedReplyLength(FlashReadPage), 4110);

  args.param_sequence = 0x01;
  args.param_op = 4;
  EXPECT_EQ(BuildFrame(ParamRead, args), (Bytes{0x58, 0x53, 0x03, 0x01, 0x03, 0x04, 0x00}));
  args.param_sequence = 0x02;
  args.param_op = 5;
  args.param_value = 0x102;  // only the low byte goes out
  EXPECT_EQ(BuildFrame(ParamWrite, args),
            (Bytes{0x58, 0x53, 0x07, 0x02, 0x83, 0x05, 0x02, 0x00, 0x00, 0x00}));
  EXPECT_EQ(ExpectedReplyLength(ParamRead), 10);
  EXPECT_EQ(ExpectedReplyLength(ParamWrite), 10);
}

}  // namespace
}  // namespace brivelton
