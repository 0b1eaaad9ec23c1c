// SPDX-License-Identifier: MIT
#include "sim/adapter_frames.h"

#include <algorithm>

#include "link/frames.h"

namespace brivelton::sim {

namespace {

constexpr uint8_t kHciHead[] = {0x01, 0xE0, 0xFC};
constexpr uint8_t kResetTail[] = {0x01, 0x00, 0x80, 0xF4, 0x00, 0x01, 0x00};

bool Equals(std::span<const uint8_t> bytes, std::initializer_list<uint8_t> want) {
  return bytes.size() == want.size() && std::equal(want.begin(), want.end(), bytes.begin());
}

enum class Parse { kNeedMore, kGarbage, kFrame };

// Whether `b` starts with a complete frame (its length in `length`), may
// still become one, or cannot. A `length` left with kNeedMore means the
// header is whole and checked: only the rest of the frame is missing.
Parse ParseFrame(std::span<const uint8_t> b, size_t& length) {
  if (b.empty()) return Parse::kNeedMore;
  switch (b[0]) {
    case 0x01: {
      for (size_t i = 1; i < 3; ++i) {
        if (b.size() <= i) return Parse::kNeedMore;
        if (b[i] != kHciHead[i]) return Parse::kGarbage;
      }
      if (b.size() < 4) return Parse::kNeedMore;
      if (b[3] == 0) return Parse::kGarbage;
      if (b[3] != 0xFF) {
        length = 4u + b[3];
      } else {
        if (b.size() < 5) return Parse::kNeedMore;
        if (b[4] != 0xF4) return Parse::kGarbage;
        if (b.size() < 7) return Parse::kNeedMore;
        const size_t n = b[5] | size_t{b[6]} << 8;
        if (n == 0 || n > 0x1005) return Parse::kGarbage;
        length = 7 + n;
      }
      return b.size() < length ? Parse::kNeedMore : Parse::kFrame;
    }
    case 0x2F:  // "/v"
      if (b.size() < 2) return Parse::kNeedMore;
      length = 2;
      return b[1] == 0x76 ? Parse::kFrame : Parse::kGarbage;
    case 0x58: {  // "XS"
      if (b.size() < 2) return Parse::kNeedMore;
      if (b[1] != 0x53) return Parse::kGarbage;
      if (b.size() < 3) return Parse::kNeedMore;
      if (b[2] != 0x03 && b[2] != 0x07) return Parse::kGarbage;
      if (b.size() < 5) return Parse::kNeedMore;
      if (b[4] != (b[2] == 0x03 ? 0x03 : 0x83)) return Parse::kGarbage;
      length = b[2] == 0x03 ? 7 : 10;
      return b.size() < length ? Parse::kNeedMore : Parse::kFrame;
    }
    default:
      return Parse::kGarbage;
  }
}

}  // namespace

uint32_t Le32(std::span<const uint8_t> bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> Event(uint8_t code, std::initializer_list<uint8_t> params) {
  std::vector<uint8_t> reply;
  reply.reserve(7 + params.size());
  for (uint8_t b : {uint8_t{0x04}, uint8_t{0x0E}, static_cast<uint8_t>(4 + params.size()),
                    uint8_t{0x01}, uint8_t{0xE0}, uint8_t{0xFC}, code})
    reply.push_back(b);
  for (uint8_t b : params) reply.push_back(b);
  return reply;
}

int EraseBlockIndex(std::span<const uint8_t> frame) {
  const uint8_t op = frame[8];
  const uint32_t address = Le32(frame.subspan(9, 4));
  if (op == 0xD8) return static_cast<int>(address >> 16);
  if (op == 0x20 && address >= 0xF0000) return 16 + static_cast<int>((address - 0xF0000) >> 12);
  return -1;
}

std::optional<CommandKind> KindOfFrame(std::span<const uint8_t> f) {
  using enum CommandKind;
  if (f.size() == 2 && f[0] == 0x2F) return QueryVersion;
  if (f.size() >= 3 && f[0] == 0x58) return f[2] == 0x03 ? ParamRead : ParamWrite;
  if (f.size() < 5 || f[0] != 0x01) return std::nullopt;
  if (f[3] != 0xFF) {
    const auto p = f.subspan(4);
    if (Equals(p, {0x00})) return LinkCheck;
    if (Equals(p, {0xAA, 0x55})) return BootHandshake;
    if (Equals(p, {0xFE, 0x95, 0x27, 0x95, 0x27})) return BootCommandFE;
    if (Equals(p, {0x0F, 0x40, 0x42, 0x0F, 0x00, 0x0F})) return SetBaud1M;
    if (p.size() == 9 && std::equal(std::begin(kResetTail), std::end(kResetTail), p.begin()) &&
        p[8] == 0x00) {
      if (p[7] == 0x5A) return ResetStepA;
      if (p[7] == 0xA5) return ResetStepB;
    }
    if (p.size() == 9 && p[0] == 0x10) return FlashChecksum;
    return std::nullopt;
  }
  if (f.size() < 8) return std::nullopt;
  const auto p = f.subspan(7);
  if (Equals(p, {0x0C, 0x05})) return FlashReadStatus;
  if (p.size() == 3 && p[0] == 0x0D) return FlashWriteStatus;
  if (p.size() == 6 && p[0] == 0x0F) return FlashErase;
  if (p.size() == 5 && p[0] == 0x09) return FlashReadPage;
  if (p.size() == 5 + kPageSize && p[0] == 0x07)
    return Le32(p.subspan(1, 4)) == kIdentityPageAddress ? WriteIdentityPage : FlashWritePage;
  return std::nullopt;
}

void FrameParser::Push(uint8_t value, uint64_t t_us) {
  if (!rx_.empty() && t_us > rx_last_us_ + kStaleFrameUs) Discard(rx_.size());
  rx_.push_back(value);
  rx_last_us_ = t_us;
}

std::optional<std::vector<uint8_t>> FrameParser::TakeFrame() {
  // The body of a frame whose header is in: nothing to look at before its end.
  if (rx_.size() < rx_length_) return std::nullopt;
  for (;;) {
    size_t length = 0;
    const Parse result = ParseFrame(rx_, length);
    if (result == Parse::kNeedMore) {
      rx_length_ = length;
      return std::nullopt;
    }
    rx_length_ = 0;
    if (result == Parse::kGarbage) {
      Discard(1);
      continue;
    }
    std::vector<uint8_t> frame(rx_.begin(), rx_.begin() + static_cast<long>(length));
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(length));
    return frame;
  }
}

void FrameParser::Discard(size_t count) {
  const size_t kept = std::min(count, kStrayKept - std::min(kStrayKept, stray_.size()));
  stray_.insert(stray_.end(), rx_.begin(), rx_.begin() + static_cast<long>(kept));
  garbage_ += count;
  rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(count));
  if (rx_.empty()) rx_length_ = 0;
}

void FrameParser::Clear() {
  rx_.clear();
  rx_length_ = 0;
}

}  // namespace brivelton::sim
