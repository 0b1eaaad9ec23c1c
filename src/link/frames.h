// SPDX-License-Identifier: MIT
#pragma once
// Every frame the utility sends: one catalogue row per command kind with its
// name, the reply it waits for, how long it waits, and how the frame is built.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/command_kind.h"
#include "link/link_state.h"
#include "resources/firmware_image.h"

namespace brivelton {

// How often a handshake burst repeats its frame.
inline constexpr int kLongBurstCount = 101;
inline constexpr int kShortBurstCount = 11;

// Page byte k of a page read is reply byte kPageDataOffset + k.
inline constexpr int kPageDataOffset = 15;

// What a frame carries besides its kind; each kind reads only its own fields.
struct FrameArgs {
  int erase_block = 0;                // FlashErase
  int page_index = 0;                 // FlashWritePage
  std::span<const uint8_t> page;      // FlashWritePage, WriteIdentityPage
  uint32_t read_address = 0;          // FlashReadPage
  uint8_t param_sequence = 0;         // ParamRead, ParamWrite
  uint8_t param_op = 0;               // ParamRead, ParamWrite
  uint32_t param_value = 0;           // ParamWrite: only the low byte goes out
};

// The frame replaces what `frame` held, so that a sender can keep one buffer
// for every page it writes.
using FrameBuilder = void (*)(const FrameArgs& args, std::vector<uint8_t>& frame);

struct CommandEntry {
  CommandKind kind;
  const char* name;
  int reply_length;   // 0: nothing is read back
  int read_attempts;  // tries of 10 ms for each 256-byte chunk of the reply
  FrameBuilder build;
};

std::span<const CommandEntry> CommandCatalogue();
// The catalogue row of `kind`; null for a number that is not a kind.
const CommandEntry* FindCommand(CommandKind kind);
// "LinkCheck", "FlashWritePage", ...; "unknown" for none or a number that is
// not a kind.
const char* KindName(std::optional<CommandKind> kind);
// The number the trace shows.
inline int KindNumber(CommandKind kind) { return static_cast<int>(kind); }

// The reply length a kind expects; 0 for kinds without reply.
int ExpectedReplyLength(CommandKind kind);
// Read tries per chunk after sending `kind`; the ordinary count after none.
int ReadAttempts(std::optional<CommandKind> kind);

// The frame of `kind`; empty for a number that is not a kind.
std::vector<uint8_t> BuildFrame(CommandKind kind, const FrameArgs& args = {});
void BuildFrame(CommandKind kind, const FrameArgs& args, std::vector<uint8_t>& frame);

// Erase block b: the op byte and the address it carries.
struct EraseBlock {
  uint8_t op;
  uint32_t address;
};
EraseBlock EraseBlockOf(int block);

}  // namespace brivelton
