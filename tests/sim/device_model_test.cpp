// SPDX-License-Identifier: MIT
// The device model on its own: bytes in with their times, bytes out with
// theirs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/frames.h"
#include "sim/device_model.h"
#include "sim/virtual_serial.h"
#include "resources/checksum.h"
#include "resources/firmware_image.h"
#include "update/identity_page.h"

namespace brivelton::sim {
namespace {

using enum CommandKind;

using Bytes = std::vector<uint8_t>;

// The frame as an update sends it: page writes carry the image's page or the
// identity page.
Bytes Frame(CommandKind kind, FrameArgs args = {}) {
  const auto identity = BuildIdentityPage(kDefaultBtAddress);
  args.page = kind == WriteIdentityPage ? std::span<const uint8_t>(identity)
                                        : BuiltInImage().Page(args.page_index);
  return BuildFrame(kind, args);
}

// Bytes written by the host starting at `t_us`, as the line delivers them.
void Send(DeviceModel& model, const Bytes& bytes, uint64_t t_us, uint32_t baud = kFirmwareBaud) {
  std::vector<uint64_t> arrival(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) arrival[i] = t_us + WireTimeUs(i + 1, baud);
  model.Receive(bytes, arrival, baud);
}

Bytes Values(const std::vector<SentByte>& out) {
  Bytes values;
  for (const auto& b : out) values.push_back(b.value);
  return values;
}

// A model already in its boot loader at 1,000,000 baud with its flash
// unlocked; the time it is ready again is in `t`.
DeviceModel BootLoader(uint64_t& t, AdapterConfig config = {}) {
  DeviceModel model(std::move(config));
  Send(model, Frame(BootHandshake), 0);
  Send(model, Frame(SetBaud1M), 10'000);
  t = 20'000;
  for (CommandKind kind : {FlashReadStatus, FlashWriteStatus, FlashReadStatus}) {
    Send(model, Frame(kind), t, kBootLoaderBaud);
    t += 5'000;
  }
  model.TakeOutput();
  return model;
}

// The usual CRC-32, bit by bit: an independent reference for the checksum.
uint32_t ReferenceCrc32(std::span<const uint8_t> bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t byte : bytes) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

TEST(DeviceModel, ParserFindsFramesPastGarbage) {
  struct Case {
    const char* name;
    Bytes garbage;
    CommandKind kind;
  };
  const Case cases[] = {
      {"noise before a boot-loader frame", {0x00, 0xFF, 0x01}, LinkCheck},
      {"a false start inside the header", {0x01, 0xE0, 0x01}, LinkCheck},
      {"a doubled X before XS", {0x58}, ParamRead},
      {"a slash not followed by v", {0x2F, 0x2F}, QueryVersion},
      {"XS with an unknown length", {0x58, 0x53, 0x05}, ParamRead},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceModel model;
    FrameArgs args;
    args.param_op = 4;
    const Bytes frame = Frame(c.kind, args);
    Bytes stream = c.garbage;
    stream.insert(stream.end(), frame.begin(), frame.end());
    Send(model, stream, 1'000);
    ASSERT_EQ(model.frames().size(), 1u);
    EXPECT_EQ(model.frames()[0].kind, c.kind);
    EXPECT_EQ(model.frames()[0].bytes, frame);
    EXPECT_EQ(model.garbage_bytes(), c.garbage.size());
    EXPECT_EQ(model.stray_bytes(), c.garbage);
    EXPECT_EQ(model.TakeOutput().size(), static_cast<size_t>(ExpectedReplyLength(c.kind)));
  }
}

TEST(DeviceModel, AnUnfinishedFrameIsAbandonedAfterAPause) {
  DeviceModel model;
  // The header of a page write whose data never came.
  Send(model, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x10, 0x07}, 0);
  Send(model, Frame(LinkCheck), 200'000);
  ASSERT_EQ(model.frames().size(), 1u);
  EXPECT_EQ(model.frames()[0].kind, LinkCheck);
  EXPECT_EQ(model.TakeOutput().size(), 8u);
}

TEST(DeviceModel, RecognisesEveryCatalogueFrameAndNothingNearIt) {
  FrameArgs args;
  args.page_index = 5;
  args.erase_block = 20;
  args.read_address = 0x7D000;
  args.param_op = 5;
  const std::pair<CommandKind, CommandKind> sent_as[] = {
      {LinkCheck, LinkCheck},           {BootHandshake, BootHandshake},
      {HandshakeBurstLong, BootHandshake}, {HandshakeBurstShort, BootHandshake},
      {BootCommandFE, BootCommandFE},   {SetBaud1M, SetBaud1M},
      {ResetStepA, ResetStepA},         {ResetStepB, ResetStepB},
      {FlashReadStatus, FlashReadStatus}, {FlashWriteStatus, FlashWriteStatus},
      {FlashErase, FlashErase},         {FlashWritePage, FlashWritePage},
      {WriteIdentityPage, WriteIdentityPage}, {FlashChecksum, FlashChecksum},
      {FlashReadPage, FlashReadPage},   {QueryVersion, QueryVersion},
      {ParamRead, ParamRead},           {ParamWrite, ParamWrite},
  };
  for (const auto& [kind, heard] : sent_as) {
    SCOPED_TRACE(KindName(kind));
    EXPECT_EQ(KindOfFrame(Frame(kind, args)), heard);
  }
  const Bytes near_misses[] = {
      {0x01, 0xE0, 0xFC, 0x01, 0x01},                                          // link check, wrong byte
      {0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x56},                                    // handshake
      {0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80, 0xF4, 0x00, 0x01, 0x00, 0x5B, 0x00},  // reset
      {0x01, 0xE0, 0xFC, 0x06, 0x0F, 0x40, 0x42, 0x0F, 0x00, 0x0E},             // set baud
      {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x02, 0x00, 0x0C, 0x06},                   // read status
  };
  for (const Bytes& frame : near_misses) EXPECT_EQ(KindOfFrame(frame), std::nullopt);
}

TEST(DeviceModel, RepliesTakeDeviceTimePlusWireTimeAndNeverOverlap) {
  const Timing timing;
  const uint64_t latency = timing.reply_latency_us;
  struct Case {
    CommandKind kind;
    uint64_t device_us;
  };
  FrameArgs args;
  args.page_index = 3;
  for (const Case& c : {Case{FlashErase, timing.erase_64k_us}, Case{FlashWritePage, timing.page_program_us},
                        Case{FlashChecksum, timing.checksum_us}, Case{FlashReadPage, timing.page_read_us},
                        Case{FlashReadStatus, 0}}) {
    SCOPED_TRACE(KindName(c.kind));
    uint64_t t = 0;
    DeviceModel model = BootLoader(t);
    const Bytes frame = Frame(c.kind, args);
    Send(model, frame, t, kBootLoaderBaud);
    const auto out = model.TakeOutput();
    ASSERT_EQ(out.size(), static_cast<size_t>(ExpectedReplyLength(c.kind)));
    const uint64_t heard = t + WireTimeUs(frame.size(), kBootLoaderBaud);
    EXPECT_EQ(out.back().t_us, heard + latency + c.device_us + WireTimeUs(out.size(), kBootLoaderBaud));
    EXPECT_EQ(out.front().baud, kBootLoaderBaud);
  }
  {
    SCOPED_TRACE("a 4 KiB erase");
    uint64_t t = 0;
    DeviceModel model = BootLoader(t);
    args.erase_block = 16;
    Send(model, Frame(FlashErase, args), t, kBootLoaderBaud);
    const auto out = model.TakeOutput();
    EXPECT_EQ(out.back().t_us, t + WireTimeUs(13, kBootLoaderBaud) + latency + timing.erase_4k_us +
                                   WireTimeUs(16, kBootLoaderBaud));
  }
  {
    SCOPED_TRACE("two link checks sent back to back");
    DeviceModel model;
    Bytes two = Frame(LinkCheck);
    two.insert(two.end(), two.begin(), two.end());
    Send(model, two, 0);
    const auto out = model.TakeOutput();
    ASSERT_EQ(out.size(), 16u);
    // The second command waits for the first reply to be out.
    EXPECT_EQ(out[0].t_us, WireTimeUs(5, kFirmwareBaud) + latency + WireTimeUs(1, kFirmwareBaud));
    EXPECT_EQ(out[8].t_us, out[7].t_us + WireTimeUs(1, kFirmwareBaud));
    for (size_t i = 1; i < out.size(); ++i) EXPECT_GT(out[i].t_us, out[i - 1].t_us);
  }
}

TEST(DeviceModel, NothingIsHeardWhileItRestarts) {
  DeviceModel model;
  Send(model, Frame(ResetStepA), 0);
  Send(model, Frame(ResetStepB), 10'000);
  const auto replies = model.TakeOutput();
  ASSERT_EQ(replies.size(), 20u);
  const uint64_t restart_us = model.config().timing.restart_us;
  const uint64_t back = replies.back().t_us + restart_us;
  EXPECT_EQ(model.restarts(), 1);
  const size_t frames = model.frames().size();
  Send(model, Frame(LinkCheck), back - restart_us / 2);
  Send(model, Frame(LinkCheck), back - WireTimeUs(3, kFirmwareBaud));  // lost in part
  EXPECT_EQ(model.frames().size(), frames);
  EXPECT_TRUE(model.TakeOutput().empty());
  Send(model, Frame(LinkCheck), back);
  EXPECT_EQ(model.frames().size(), frames + 1);
  EXPECT_EQ(model.TakeOutput().size(), 8u);
}

TEST(DeviceModel, ChecksumIsTheComplementedCrc32LeastSignificantByteFirst) {
  const Bytes check = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  ASSERT_EQ(ReferenceCrc32(check), 0xCBF43926u);
  EXPECT_EQ(FlashChecksumOf(check), (std::array<uint8_t, 4>{0xD9, 0xC6, 0x0B, 0x34}));

  AdapterConfig config;
  config.flash.assign(check.begin(), check.end());
  uint64_t t = 0;
  DeviceModel model = BootLoader(t, config);
  // A checksum over the nine bytes only: the known vector, end to end.
  Send(model, {0x01, 0xE0, 0xFC, 0x09, 0x10, 0, 0, 0, 0, 0x08, 0, 0, 0}, t, kBootLoaderBaud);
  auto reply = Values(model.TakeOutput());
  ASSERT_EQ(reply.size(), 11u);
  EXPECT_EQ(Bytes(reply.begin() + 7, reply.end()), (Bytes{0xD9, 0xC6, 0x0B, 0x34}));

  // The catalogue's frame covers 0x00000 to 0x7CFFF.
  Send(model, Frame(FlashChecksum), t + 100'000, kBootLoaderBaud);
  reply = Values(model.TakeOutput());
  ASSERT_EQ(reply.size(), 11u);
  const uint32_t register_value = ~ReferenceCrc32(model.flash().first(kImageEnd));
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(reply[7 + static_cast<size_t>(i)], static_cast<uint8_t>(register_value >> (8 * i)));
}

TEST(DeviceModel, ReadPageGivesTheHeaderAndPageBytesUpTo4094) {
  uint64_t t = 0;
  DeviceModel model = BootLoader(t);
  for (uint32_t address : {0x7D000u, 0xFF000u}) {
    FrameArgs args;
    args.read_address = address;
    Send(model, Frame(FlashReadPage, args), t, kBootLoaderBaud);
    t += 100'000;
    const Bytes reply = Values(model.TakeOutput());
    ASSERT_EQ(reply.size(), 4110u);
    const auto page = model.flash().subspan(address, 4095);
    EXPECT_TRUE(std::equal(page.begin(), page.end(), reply.begin() + 15)) << std::hex << address;
  }
}

TEST(DeviceModel, FaultsRepeatExactlyForTheSameSeed) {
  auto run = [](uint32_t seed) {
    AdapterConfig config;
    config.faults.seed = seed;
    config.faults.drop_rate = 0.2;
    config.faults.flip_rate = 0.2;
    config.faults.extra_bytes = 2;
    DeviceModel model(config);
    Bytes heard;
    for (int i = 0; i < 40; ++i) {
      Send(model, Frame(i % 2 ? QueryVersion : LinkCheck), static_cast<uint64_t>(i) * 100'000);
      const Bytes out = Values(model.TakeOutput());
      heard.insert(heard.end(), out.begin(), out.end());
    }
    return std::make_pair(heard, model.frames().size());
  };
  const auto first = run(7);
  EXPECT_EQ(run(7), first);
  EXPECT_NE(run(8).first, first.first);
  // Some frames got through, some did not.
  EXPECT_GT(first.second, 0u);
  EXPECT_LT(first.second, 40u);
}

TEST(DeviceModel, OldImageDiffersFromTheBuiltInOneAndCarriesItsVersion) {
  const Bytes old = OldFirmwareImage(0x1FF);
  ASSERT_EQ(old.size(), 512000u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(old.data()), 22), "BRIVELTON FIRMWARE 1FF");
  EXPECT_NE(old, OldFirmwareImage(0x1FE));
  DeviceModel model;
  EXPECT_TRUE(std::equal(old.begin(), old.end(), model.flash().begin()));
}

}  // namespace
}  // namespace brivelton::sim
