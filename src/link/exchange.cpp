// SPDX-License-Identifier: MIT
// Sending one frame and collecting its reply, with the fixed retry rules.
#include <algorithm>
#include <array>

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

Reply Link::Exchange(CommandKind kind, const FrameArgs& args) {
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
    return Reply{.ok = true};
  }
  Reply reply;
  for (int attempt = 1; attempt <= kAttemptsPerCommand; ++attempt) {
    const std::optional<int> sent = SendFrame(kind, args);
    if (!sent) {
      write_failed_ = true;
      log_.LogLine(" Write file error");
      return Reply{};
    }
    const int expected = *sent;
    if (expected == 0) return Reply{.ok = true};
    reply = ReadReply(expected);
    log_.Trace(" cmd = %d, loop = %d, readcnt = %d\n", KindNumber(kind), attempt, reply.received);
    if (reply.received == 0) continue;
    if (reply.received < expected) {
      if (kind == CommandKind::FlashReadPage) break;
      if (kind == CommandKind::SetBaud1M && reply.bytes().size() >= kBaudNotYetSwitched.size() &&
          std::equal(kBaudNotYetSwitched.begin(), kBaudNotYetSwitched.end(),
                     reply.bytes().begin())) {
        log_.Trace(" Set high speed get wrong response \n");
        continue;
      }
    }
    reply.ok = true;
    return reply;
  }
  return reply;
}

Reply Link::ReadReply(int expected) {
  const int attempts = ReadAttempts(state_.LastKind);
  Reply reply{.expected = expected};
  int chunk_number = 0;
  int remaining = expected;
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
      log_.Trace("===> loop=%d, R exp=%d, get=%d ", used, expected, reply.received);
      return reply;
    }
    if (chunk_number == 0) {
      reply.kept = std::min(static_cast<size_t>(held), Reply::kKept);
      std::copy_n(chunk.begin(), reply.kept, reply.start.begin());
    }
    reply.received += held;
    remaining -= held;
    ++chunk_number;
  }
  log_.Trace("===> R exp=%d, get=%d ", expected, reply.received);
  return reply;
}

}  // namespace brivelton
