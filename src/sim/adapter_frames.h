// SPDX-License-Identifier: MIT
#pragma once
// The adapter's own reading of the host's bytes and writing of its replies.
// Deliberately not built from the host's frame builder, so that a wrong byte
// there shows up as silence here.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include "link/command_kind.h"

namespace brivelton::sim {

// A frame left unfinished this long is abandoned: the next byte starts afresh.
inline constexpr uint64_t kStaleFrameUs = 50'000;

// The frame kind of a complete frame as the adapter reads it; none when the
// frame is well formed but means nothing to it.
std::optional<CommandKind> KindOfFrame(std::span<const uint8_t> frame);

// The erase block a FlashErase frame names, as the update numbers them; -1
// for an address no block starts at.
int EraseBlockIndex(std::span<const uint8_t> frame);

uint32_t Le32(std::span<const uint8_t> bytes);
void PutLe32(std::vector<uint8_t>& out, uint32_t value);

// Command Complete event of the vendor command `code`: 04 0E len 01 E0 FC code
// followed by `params`.
std::vector<uint8_t> Event(uint8_t code, std::initializer_list<uint8_t> params);

// Gathers the host's bytes into frames, skipping what cannot start one.
class FrameParser {
 public:
  // One byte heard at `t_us`. After a pause of kStaleFrameUs the unfinished
  // frame before it is dropped.
  void Push(uint8_t value, uint64_t t_us);
  // The next whole frame in what was pushed; none until one is whole.
  std::optional<std::vector<uint8_t>> TakeFrame();
  void Clear();
  // Bytes thrown away while looking for a frame.
  uint64_t garbage() const { return garbage_; }
  // The first of them (up to kStrayKept), as heard: what a test looks into.
  const std::vector<uint8_t>& stray() const { return stray_; }
  static constexpr size_t kStrayKept = 64 * 1024;

 private:
  std::vector<uint8_t> rx_;
  // The length of the frame rx_ starts with, once its header is in; else 0.
  size_t rx_length_ = 0;
  uint64_t rx_last_us_ = 0;
  uint64_t garbage_ = 0;
  std::vector<uint8_t> stray_;
  void Discard(size_t count);
};

}  // namespace brivelton::sim
