// SPDX-License-Identifier: MIT
#include "app/conversation.h"

#include <algorithm>
#include <cstdio>

#include "link/link.h"
#include "resources/firmware_image.h"

namespace brivelton {

namespace {

// What each step keeps the boot loader busy, in microseconds: a 64 KiB block
// erase (the first 16 blocks), a 4 KiB one (the rest), programming a page and
// the checksum over the image. A page also spends its frame on the wire: the
// 12-byte header and the data out, the 15-byte reply back, ten bits a byte.
constexpr int kLargeEraseBlocks = 16;
constexpr double kLargeEraseUs = 250'000;
constexpr double kSmallEraseUs = 40'000;
constexpr double kPageWireUs = (12.0 + kPageSize + 15) * 10 * 1e6 / kBootLoaderBaud;
constexpr double kPageUs = 15'000 + kPageWireUs;
constexpr double kChecksumUs = 80'000;

constexpr const char* kDoNotUnplug = "Do not unplug the adapter or close this window.";
constexpr const char* kCloseRefused =
    "The window stays open while the flash is rewritten: closing now would leave "
    "the adapter without firmware.";
constexpr const char* kCloseDeferred = "The window closes when the adapter has answered.";

double EraseUs(int blocks) {
  const int large = std::min(blocks, kLargeEraseBlocks);
  return large * kLargeEraseUs + (blocks - large) * kSmallEraseUs;
}

}  // namespace

double FlashFraction(UpdateStage stage, int done, int total) {
  total = std::max(total, 1);
  done = std::clamp(done, 0, total);
  // The identity page goes between the last numbered page and page 0, so the
  // write stage moves total + 1 pages and says `total` only after the last.
  const double erase = EraseUs(kEraseBlocks);
  const double write = (kFirmwarePages + 1) * kPageUs;
  const double all = erase + write + kChecksumUs;
  switch (stage) {
    case UpdateStage::kErase:
      return EraseUs(done) / EraseUs(total) * erase / all;
    case UpdateStage::kWrite: {
      const double pages = done == total ? total + 1 : done;
      return (erase + pages / (total + 1) * write) / all;
    }
    case UpdateStage::kVerify:
      return (erase + write + done * kChecksumUs) / all;
  }
  return 0;
}

bool Conversation::Start() {
  if (state_ != State::kIdle) return false;
  state_ = State::kBusy;
  close_due_ = false;
  return true;
}

bool Conversation::End() {
  const bool close = close_due_;
  state_ = State::kIdle;
  close_due_ = false;
  bar_shown_ = false;
  bar_value_ = 0;
  notice_.clear();
  return close;
}

void Conversation::FlashBegins() {
  state_ = State::kFlashing;
  phase_ = Phase::kErasing;
  bar_shown_ = true;
  bar_value_ = 0;
  notice_ = kDoNotUnplug;
}

void Conversation::Progress(UpdateStage stage, int done, int total) {
  if (state_ != State::kFlashing) return;
  phase_ = stage == UpdateStage::kErase   ? Phase::kErasing
           : stage == UpdateStage::kWrite ? Phase::kWriting
                                          : Phase::kVerifying;
  // Never back, and full only once verified.
  const int value = static_cast<int>(FlashFraction(stage, done, total) * kBarRange);
  bar_value_ = std::clamp(value, bar_value_, kBarRange - 1);
}

void Conversation::FlashEnds(bool verified) {
  if (state_ != State::kFlashing) return;
  state_ = State::kBusy;
  phase_ = verified ? Phase::kDone : Phase::kFailed;
  if (verified) bar_value_ = kBarRange;
  notice_ = close_due_ ? kCloseDeferred : "";
}

Conversation::Close Conversation::RequestClose() {
  switch (state_) {
    case State::kIdle:
      return Close::kAllowed;
    case State::kBusy:
      close_due_ = true;
      notice_ = kCloseDeferred;
      return Close::kDeferred;
    case State::kFlashing:
      notice_ = kCloseRefused;
      return Close::kRefused;
  }
  return Close::kAllowed;
}

std::string Conversation::bar_text() const {
  const auto with_percent = [this](const char* stage) {
    char text[32];
    std::snprintf(text, sizeof text, "%s %d%%", stage, bar_value_ * 100 / kBarRange);
    return std::string(text);
  };
  switch (phase_) {
    case Phase::kErasing: return with_percent("Erasing");
    case Phase::kWriting: return with_percent("Writing");
    case Phase::kVerifying: return "Verifying";
    case Phase::kDone: return "Done";
    case Phase::kFailed: return "Failed";
  }
  return {};
}

void ConversationView::FlashBegins() {
  OnWindowThread([this] {
    conversation_.FlashBegins();
    Redraw();
  });
}

void ConversationView::UpdateProgress(UpdateStage stage, int done, int total) {
  OnWindowThread([&] {
    conversation_.Progress(stage, done, total);
    Redraw();
  });
}

void ConversationView::FlashEnds(bool verified) {
  OnWindowThread([&] {
    conversation_.FlashEnds(verified);
    Redraw();
  });
}

}  // namespace brivelton
