// SPDX-License-Identifier: MIT
// Sending one frame and collecting its reply, with the fixed retry rules.
#include <algorithm>
#include <array>
#include <cstring>

#include "link/link.h"

namespace brivelton {

namespace {
constexpr int kAttemptsPerCommand = 2;
constexpr int kChunkSize = 256;
constexpr uint32_t kReadPauseMs = 10;
constexpr uint32_t kBurstPauseMs = 4;

// The start of the event the boot loader sends before it has switched speed.
constexpr std::array<uint8_t, 3> kBaudNotYetSwitched = {0x04, 0x0E, 0x05};
}  // namespace

std::optional<int> Link::SendFrame(CommandKind kind, const FrameArgs& args) {
  state_.LastKind = kind;
  // One buffer for every frame: page writes are four kilobytes each.
  BuildFrame(kind, args, frame_);
  if (frame_.empty()) return 0;
  size_t written = 0;
  if (!state_.port || !state_.port->Write(frame_, written)) {
    log_.Trace("\n Write file error\n");
    return std::nullopt;
  }
  if (written < frame_.size())
    log_.Trace(" CMD %d Write error %d %d\n", KindNumber(kind), static_cast<int>(written),
               static_cast<int>(frame_.size()));
  return ExpectedReplyLength(kind);
}

bool Link::Exchange(CommandKind kind, const FrameArgs& args) {
  write_failed_ = false;
  if (!state_.is_open()) {
    log_.Trace(" Port is not opened");
    ReopenFoundPort();
  }
  if (kind == CommandKind::HandshakeBurstLong || kind == CommandKind::HandshakeBurstShort) {
    const int count = kind == CommandKind::HandshakeBurstLong ? kLongBurstCount : kShortBurstCount;
    for (int i = 0; i < count; ++i) {
      SendFrame(kind);
      clock_.Sleep(kBurstPauseMs);
    }
    return true;
  }
  for (int attempt = 1; attempt <= kAttemptsPerCommand; ++attempt) {
    const std::optional<int> sent = SendFrame(kind, args);
    if (!sent) {
      write_failed_ = true;
      log_.LogLine(" Write file error");
      return false;
    }
    const int expected = *sent;
    state_.ExpectedCount = expected;
    if (expected == 0) return true;
    const int received = ReadReply(expected);
    state_.ReceivedCount = received;
    log_.Trace(" cmd = %d, loop = %d, readcnt = %d\n", KindNumber(kind), attempt, received);
    if (received == expected) return true;
    if (received == 0) continue;
    if (kind == CommandKind::SetBaud1M) {
      // Judged on what this reply delivered: older bytes past it prove nothing.
      const auto& reply = state_.ReplyBuffer;
      if (state_.ReplyFresh >= static_cast<int>(kBaudNotYetSwitched.size()) &&
          std::equal(kBaudNotYetSwitched.begin(), kBaudNotYetSwitched.end(), reply.begin())) {
        log_.Trace(" Set high speed get wrong response \n");
        continue;
      }
      return true;
    }
    if (kind == CommandKind::FlashReadPage) return false;
    return true;
  }
  return false;
}

int Link::ReadReply(int expected) {
  const int attempts = ReadAttempts(state_.LastKind);
  int total = 0;
  int chunk_number = 0;
  int remaining = expected;
  state_.ReplyFresh = 0;
  std::array<uint8_t, kChunkSize> chunk;
  while (remaining > 0) {
    const int size = std::min(kChunkSize, remaining);
    int held = 0;
    int used = 0;
    while (used < attempts) {
      ++used;
      size_t got = 0;
      if (state_.port && state_.port->Read(std::span(chunk).subspan(held, size - held), got))
        held += static_cast<int>(got);
      if (held == size) break;
      clock_.Sleep(kReadPauseMs);
    }
    if (held == 0) {
      log_.Trace("===> loop=%d, R exp=%d, get=%d ", used, expected, total);
      return total;
    }
    if (chunk_number == 0) {
      state_.ReplyFresh = std::min(held, static_cast<int>(state_.ReplyBuffer.size()));
      std::memcpy(state_.ReplyBuffer.data(), chunk.data(), state_.ReplyFresh);
    }
    total += held;
    remaining -= held;
    ++chunk_number;
  }
  log_.Trace("===> R exp=%d, get=%d ", expected, total);
  return total;
}

}  // namespace brivelton
