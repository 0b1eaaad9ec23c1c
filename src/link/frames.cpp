// SPDX-License-Identifier: MIT
#include "link/frames.h"

#include <algorithm>
#include <initializer_list>

namespace brivelton {

namespace {

// A reply of up to 256 bytes is in well within 10 pauses. Erasing a 64 KB block
// keeps the boot loader silent for a quarter of a second, and the checksum
// makes it read the whole flash first.
constexpr int kOrdinaryReadAttempts = 10;
constexpr int kEraseReadAttempts = 30;
constexpr int kChecksumReadAttempts = 100;

void PutLe32(std::vector<uint8_t>& frame, uint32_t value) {
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

using Page = std::span<const uint8_t>;
using Frame = std::vector<uint8_t>;

// Boot-loader page write header: escape length 0x1005, command 07, address.
void PageWrite(uint32_t address, Page data, Frame& frame) {
  frame = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x10, 0x07};
  PutLe32(frame, address);
  frame.insert(frame.end(), data.begin(), data.end());
}

constexpr CommandEntry kCatalogue[] = {
    {CommandKind::LinkCheck, "LinkCheck", 8, kOrdinaryReadAttempts,
     [](const FrameArgs&, Frame& f) { f = {0x01, 0xE0, 0xFC, 0x01, 0x00}; }},
    {CommandKind::BootHandshake, "BootHandshake", 8, kOrdinaryReadAttempts,
     [](const FrameArgs&, Frame& f) { f = {0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55}; }},
    {CommandKind::HandshakeBurstLong, "HandshakeBurstLong", 0, kOrdinaryReadAttempts,
     [](const FrameArgs&, Frame& f) { f = {0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55}; }},
    {CommandKind::HandshakeBurstShort, "HandshakeBurstShort", 0, kOrdinaryReadAttempts,
     [](const FrameArgs&, Frame& f) { f = {0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55}; }},
    {CommandKind::BootCommandFE, "BootCommandFE", 0, kOrdinaryReadAttempts,
     [](const FrameArgs&, Frame& f) {
       f = {0x01, 0xE0, 0xFC, 0x05, 0xFE, 0x95, 0x27, 0x95, 0x27};
     }},
    {CommandKind::SetBaud1M, "SetBaud1M", 12, kOrdinaryReadAttempts,
     [](const FrameArgs&, Frame& f) {
       f = {0x01, 0xE0, 0xFC, 0x06, 0x0F, 0x40, 0x42, 0x0F, 0x00, 0x0F};
     }},
    {CommandKind::ResetStepA, "ResetStepA", 15, kOrdinaryReadAttempts,
     [](const FrameArgs&, Frame& f) {
       f = {0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80, 0xF4, 0x00, 0x01, 0x00, 0x5A, 0x00};
     }},
    {CommandKind::ResetStepB, "ResetStepB", 5, kOrdinaryReadAttempts,
     [](const FrameArgs&, Frame& f) {
       f = {0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80, 0xF4, 0x00, 0x01, 0x00, 0xA5, 0x00};
     }},
    {CommandKind::FlashReadStatus, "FlashReadStatus", 13, kOrdinaryReadAttempts,
     [](const FrameArgs&, Frame& f) {
       f = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x02, 0x00, 0x0C, 0x05};
     }},
    {CommandKind::FlashWriteStatus, "FlashWriteStatus", 13, kOrdinaryReadAttempts,
     [](const FrameArgs&, Frame& f) {
       f = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x03, 0x00, 0x0D, 0x01, 0x00};
     }},
    {CommandKind::FlashErase, "FlashErase", 16, kEraseReadAttempts,
     [](const FrameArgs& a, Frame& f) {
       const EraseBlock block = EraseBlockOf(a.erase_block);
       f = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x06, 0x00, 0x0F, block.op};
       PutLe32(f, block.address);
     }},
    {CommandKind::FlashWritePage, "FlashWritePage", 15, kOrdinaryReadAttempts,
     [](const FrameArgs& a, Frame& f) {
       PageWrite(static_cast<uint32_t>(a.page_index) * kPageSize, a.page, f);
     }},
    {CommandKind::WriteIdentityPage, "WriteIdentityPage", 15, kOrdinaryReadAttempts,
     [](const FrameArgs& a, Frame& f) { PageWrite(kIdentityPageAddress, a.page, f); }},
    {CommandKind::FlashChecksum, "FlashChecksum", 11, kChecksumReadAttempts,
     [](const FrameArgs&, Frame& f) {
       f = {0x01, 0xE0, 0xFC, 0x09, 0x10, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xCF, 0x07, 0x00};
     }},
    {CommandKind::FlashReadPage, "FlashReadPage", 4110, kOrdinaryReadAttempts,
     [](const FrameArgs& a, Frame& f) {
       f = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x00, 0x09};
       PutLe32(f, a.read_address);
     }},
    {CommandKind::QueryVersion, "QueryVersion", 33, kOrdinaryReadAttempts,
     [](const FrameArgs&, Frame& f) { f = {0x2F, 0x76}; }},
    {CommandKind::ParamRead, "ParamRead", 10, kOrdinaryReadAttempts,
     [](const FrameArgs& a, Frame& f) {
       f = {0x58, 0x53, 0x03, a.param_sequence, 0x03, a.param_op, 0x00};
     }},
    {CommandKind::ParamWrite, "ParamWrite", 10, kOrdinaryReadAttempts,
     [](const FrameArgs& a, Frame& f) {
       f = {0x58, 0x53, 0x07, a.param_sequence, 0x83, a.param_op,
            static_cast<uint8_t>(a.param_value), 0x00, 0x00, 0x00};
     }},
};

}  // namespace

std::span<const CommandEntry> CommandCatalogue() { return kCatalogue; }

const CommandEntry* FindCommand(CommandKind kind) {
  for (const CommandEntry& command : kCatalogue)
    if (command.kind == kind) return &command;
  return nullptr;
}

const char* KindName(std::optional<CommandKind> kind) {
  const CommandEntry* command = kind ? FindCommand(*kind) : nullptr;
  return command ? command->name : "unknown";
}

int ExpectedReplyLength(CommandKind kind) {
  const CommandEntry* command = FindCommand(kind);
  return command ? command->reply_length : 0;
}

int ReadAttempts(std::optional<CommandKind> kind) {
  const CommandEntry* command = kind ? FindCommand(*kind) : nullptr;
  return command ? command->read_attempts : kOrdinaryReadAttempts;
}

EraseBlock EraseBlockOf(int block) {
  if (block < 16) return {0xD8, static_cast<uint32_t>(block) * 0x10000};
  return {0x20, 0x0F0000 + static_cast<uint32_t>((block * 16) % 256) * 0x100};
}

void BuildFrame(CommandKind kind, const FrameArgs& args, std::vector<uint8_t>& frame) {
  const CommandEntry* command = FindCommand(kind);
  if (command) {
    command->build(args, frame);
  } else {
    frame.clear();
  }
}

std::vector<uint8_t> BuildFrame(CommandKind kind, const FrameArgs& args) {
  std::vector<uint8_t> frame;
  BuildFrame(kind, args, frame);
  return frame;
}

}  // namespace brivelton
