// Sending one frame and collecting its reply, with the fixed retry rules.
#include <algorithm>
#include <array>
#include <cstring>

#include "app/main_dialog.h"
#include "app/message_log.h"

namespace brivelton {

namespace {
constexpr int kAttemptsPerCommand = 2;
constexpr int kChunkSize = 256;
constexpr uint32_t kReadPauseMs = 10;
constexpr uint32_t kBurstPauseMs = 4;

int ReadAttempts(int last_kind) {
  if (last_kind == FlashChecksum) return 100;
  if (last_kind == FlashErase) return 30;
  return 10;
}
}  // namespace

int MainDialog::SendFrame(int kind) {
  link_.LastKind = kind;
  const std::vector<uint8_t> frame = BuildFrame(kind, link_);
  if (frame.empty()) return 0;
  size_t written = 0;
  if (!link_.port || !link_.port->Write(frame, written)) {
    Trace("\n Write file error\n");
    return kWriteFailed;
  }
  if (written < frame.size())
    Trace(" CMD %d Write error %d %d\n", kind, static_cast<int>(written),
          static_cast<int>(frame.size()));
  return ExpectedReplyLength(kind);
}

int MainDialog::Exchange(int kind) {
  if (!link_.is_open()) {
    Trace(" Port is not opened");
    ReopenFoundPort();
  }
  if (kind == HandshakeBurstLong || kind == HandshakeBurstShort) {
    const int count = kind == HandshakeBurstLong ? 101 : 11;
    for (int i = 0; i < count; ++i) {
      SendFrame(kind);
      platform_.clock.Sleep(kBurstPauseMs);
    }
    return 1;
  }
  for (int attempt = 1; attempt <= kAttemptsPerCommand; ++attempt) {
    const int expected = SendFrame(kind);
    link_.ExpectedCount = expected;
    if (expected == kWriteFailed) {
      LogLine(" Write file error");
      return 0;
    }
    if (expected == 0) return 1;
    const int received = ReadReply(expected);
    link_.ReceivedCount = received;
    Trace(" cmd = %d, loop = %d, readcnt = %d\n", kind, attempt, received);
    if (received == expected) return 1;
    if (received == 0) continue;
    if (kind == SetBaud1M) {
      const auto& reply = link_.ReplyBuffer;
      if (reply[0] == 0x04 && reply[1] == 0x0E && reply[2] == 0x05) {
        Trace(" Set high speed get wrong response \n");
        continue;
      }
      return 1;
    }
    if (kind == FlashReadPage) return 0;
    return 1;
  }
  return 0;
}

int MainDialog::ReadReply(int expected) {
  const int attempts = ReadAttempts(link_.LastKind);
  int total = 0;
  int chunk_number = 0;
  int remaining = expected;
  link_.ReplyFresh = 0;
  std::array<uint8_t, kChunkSize> chunk;
  while (remaining > 0) {
    const int size = std::min(kChunkSize, remaining);
    int held = 0;
    int used = 0;
    while (used < attempts) {
      ++used;
      size_t got = 0;
      if (link_.port &&
          link_.port->Read(std::span(chunk).subspan(held, size - held), got))
        held += static_cast<int>(got);
      if (held == size) break;
      platform_.clock.Sleep(kReadPauseMs);
    }
    if (held == 0) {
      Trace("===> loop=%d, R exp=%d, get=%d ", used, expected, total);
      return total;
    }
    if (chunk_number == 0) {
      link_.ReplyFresh = std::min(held, static_cast<int>(link_.ReplyBuffer.size()));
      std::memcpy(link_.ReplyBuffer.data(), chunk.data(), link_.ReplyFresh);
    }
    total += held;
    remaining -= held;
    ++chunk_number;
  }
  Trace("===> R exp=%d, get=%d ", expected, total);
  return total;
}

}  // namespace brivelton
