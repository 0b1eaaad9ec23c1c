// SPDX-License-Identifier: MIT
#include "sim/boot_loader.h"

#include <algorithm>
#include <array>

#include "link/frames.h"
#include "resources/checksum.h"
#include "sim/adapter_frames.h"

namespace brivelton::sim {

namespace {

// Boot-loader status bytes.
constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusLocked = 0x0C;
constexpr uint8_t kStatusBadArgument = 0x12;

constexpr int kLongBurst = 101;
constexpr int kShortBurst = 11;

}  // namespace

void BurstEntry::Track(std::optional<CommandKind> kind, bool by_bursts) {
  if (kind == CommandKind::BootHandshake) return;
  if (kind == CommandKind::BootCommandFE && by_bursts) {
    fe_seen_ = handshakes_before_fe_ >= kLongBurst;
    handshakes_after_fe_ = 0;
    if (!fe_seen_) handshakes_before_fe_ = 0;
    return;
  }
  Reset();
}

bool BurstEntry::Handshake() {
  if (!fe_seen_) {
    ++handshakes_before_fe_;
    return false;
  }
  if (handshakes_after_fe_ < kShortBurst) {
    ++handshakes_after_fe_;
    return false;
  }
  return true;
}

void BootLoader::TrackUnlock(std::optional<CommandKind> kind) {
  if (lock_.unlocked) return;
  if (kind == CommandKind::FlashReadStatus) {
    lock_.stage = lock_.stage == 2 ? 3 : 1;
  } else if (kind == CommandKind::FlashWriteStatus && lock_.stage == 1) {
    lock_.stage = 2;
  } else {
    lock_.stage = 0;
  }
  lock_.unlocked = lock_.stage == 3;
}

bool BootLoader::Execute(std::optional<CommandKind> kind, std::span<const uint8_t> frame,
                         std::span<uint8_t> flash, const Timing& timing,
                         std::vector<uint8_t>& reply, uint64_t& work_us) {
  using enum CommandKind;
  TrackUnlock(kind);
  if (!kind) return false;
  switch (*kind) {
    case BootHandshake:
      reply = Event(0xAA, {0x00});
      return true;
    case SetBaud1M:
      reply = Event(0x0F, {0x40, 0x42, 0x0F, 0x00, 0x00});
      return true;
    case FlashReadStatus:
      reply = Event(0x0C, {kStatusOk, 0x05, lock_.status_register, 0x00, 0x00, 0x00});
      return true;
    case FlashWriteStatus:
      lock_.status_register = frame[9];
      reply = Event(0x0D, {kStatusOk, 0x01, lock_.status_register, 0x00, 0x00, 0x00});
      return true;
    case FlashErase: {
      const uint8_t op = frame[8];
      const uint32_t address = Le32(frame.subspan(9, 4));
      uint8_t status = kStatusOk;
      const uint32_t size = op == 0xD8 ? 0x10000 : op == 0x20 ? 0x1000 : 0;
      if (!lock_.unlocked) {
        status = kStatusLocked;
      } else if (size == 0 || address >= flash.size()) {
        status = kStatusBadArgument;
      } else {
        const uint32_t base = address & ~(size - 1);
        std::fill(flash.begin() + base, flash.begin() + base + size, 0xFF);
        work_us = size == 0x10000 ? timing.erase_64k_us : timing.erase_4k_us;
      }
      reply = Event(0x0F, {status, op, frame[9], frame[10], frame[11], frame[12], 0x00,
                           0x00, 0x00});
      return true;
    }
    case FlashWritePage:
    case WriteIdentityPage: {
      const uint32_t address = Le32(frame.subspan(8, 4));
      uint8_t status = kStatusOk;
      if (!lock_.unlocked) {
        status = kStatusLocked;
      } else if (address > flash.size() - kPageSize) {
        status = kStatusBadArgument;
      } else {
        // NOR flash: programming can only clear bits.
        const auto cells = flash.subspan(address, kPageSize);
        const auto data = frame.subspan(12, kPageSize);
        for (size_t i = 0; i < cells.size(); ++i) cells[i] &= data[i];
        work_us = timing.page_program_us;
      }
      reply = Event(0x07, {status, frame[8], frame[9], frame[10], frame[11], 0x00, 0x00,
                           0x00});
      return true;
    }
    case FlashChecksum: {
      const uint32_t first = Le32(frame.subspan(5, 4));
      const uint32_t last =
          std::min<uint32_t>(Le32(frame.subspan(9, 4)), static_cast<uint32_t>(flash.size() - 1));
      std::array<uint8_t, 4> sum{};
      if (first <= last) sum = FlashChecksumOf(flash.subspan(first, last - first + 1));
      reply = Event(0x10, {sum[0], sum[1], sum[2], sum[3]});
      work_us = timing.checksum_us;
      return true;
    }
    case FlashReadPage: {
      const uint32_t address = Le32(frame.subspan(8, 4));
      reply = {0x04, 0x0E, 0xFF, 0xF4, 0x08, 0x10, 0x01, 0xE0, 0xFC, 0x09, kStatusOk};
      for (int i = 0; i < 4; ++i) reply.push_back(frame[8 + static_cast<size_t>(i)]);
      for (uint32_t i = 0; i < kPageSize - 1; ++i) {
        const uint64_t at = uint64_t{address} + i;
        reply.push_back(at < flash.size() ? flash[at] : 0xFF);
      }
      work_us = timing.page_read_us;
      return true;
    }
    default:
      // The boot loader does not run the firmware's commands.
      return false;
  }
}

}  // namespace brivelton::sim
