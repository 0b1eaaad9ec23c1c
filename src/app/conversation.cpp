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
constexpr const char* kNoFirmwareSaved =
    "The adapter has no working firmware. Its address is saved on this PC: press Update "
    "Firmware again.";
constexpr const char* kNoFirmware =
    "The adapter has no working firmware: press Update Firmware again.";

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

ScreenRect PlaceClearOf(const ScreenRect& owner, const ScreenRect& keep, int width, int height,
                        const ScreenRect& area) {
  constexpr int kGap = 8;
  int x = keep.left - kGap - width;
  int y = (owner.top + owner.bottom - height) / 2;
  if (x < area.left) {
    x = (owner.left + owner.right - width) / 2;
    y = keep.bottom + kGap;
  }
  x = std::max(area.left, std::min(x, area.right - width));
  y = std::max(area.top, std::min(y, area.bottom - height));
  return {x, y, x + width, y + height};
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
  erased_ = false;
  attempt_ = 1;
  phase_ = Phase::kErasing;
  bar_shown_ = false;
  bar_value_ = 0;
  attempt_line_.clear();
  notice_.clear();
  return close;
}

void Conversation::FlashBegins() {
  state_ = State::kFlashing;
  phase_ = Phase::kErasing;
  erased_ = true;
  bar_shown_ = true;
  bar_value_ = 0;
  notice_ = kDoNotUnplug;
}

void Conversation::Progress(UpdateStage stage, int done, int total) {
  // Between attempts the bar waits for the next flash.
  if (state_ != State::kFlashing || phase_ == Phase::kPausing || phase_ == Phase::kStarting)
    return;
  phase_ = stage == UpdateStage::kErase   ? Phase::kErasing
           : stage == UpdateStage::kWrite ? Phase::kWriting
                                          : Phase::kVerifying;
  // Never back, and full only once verified.
  const int value = static_cast<int>(FlashFraction(stage, done, total) * kBarRange);
  bar_value_ = std::clamp(value, bar_value_, kBarRange - 1);
}

void Conversation::FlashEnds(bool verified) {
  // Unverified, the adapter stays without firmware and the window stays
  // open: the attempt's failure says what comes next.
  if (state_ != State::kFlashing || !verified) return;
  state_ = State::kBusy;
  phase_ = Phase::kDone;
  erased_ = false;
  bar_value_ = kBarRange;
  notice_ = close_due_ ? kCloseDeferred : "";
}

void Conversation::Attempt(const AttemptEvent& event) {
  if (state_ == State::kIdle) return;
  attempts_ = event.of;
  switch (event.kind) {
    case AttemptEvent::Kind::kBegins:
      attempt_ = event.attempt;
      if (phase_ != Phase::kPausing) return;
      phase_ = Phase::kStarting;
      bar_value_ = 0;
      return;
    case AttemptEvent::Kind::kFailed:
      // The last one: GiveUp follows.
      if (event.pause_ms == 0) return;
      bar_shown_ = true;
      bar_value_ = 0;
      attempt_line_ = AttemptLine(event);
      phase_ = Phase::kPausing;
      if (erased_ && notice_ != kCloseRefused) notice_ = kDoNotUnplug;
      return;
    case AttemptEvent::Kind::kVerified:
    case AttemptEvent::Kind::kGaveUp:
      return;
  }
}

void Conversation::GiveUp(bool address_saved) {
  if (state_ == State::kIdle || phase_ == Phase::kDone || (!erased_ && !bar_shown_)) return;
  state_ = State::kBusy;
  phase_ = Phase::kFailed;
  bar_shown_ = true;
  bar_value_ = 0;
  notice_ = erased_ ? (address_saved ? kNoFirmwareSaved : kNoFirmware) : "";
  if (close_due_) notice_ += notice_.empty() ? kCloseDeferred : std::string(" ") + kCloseDeferred;
}

Conversation::Close Conversation::RequestClose() {
  switch (state_) {
    case State::kIdle:
      return Close::kAllowed;
    case State::kBusy:
      // A failed update's notice stays up beside it.
      if (!close_due_)
        notice_ = phase_ == Phase::kFailed && !notice_.empty()
                      ? notice_ + " " + kCloseDeferred
                      : kCloseDeferred;
      close_due_ = true;
      return Close::kDeferred;
    case State::kFlashing:
      notice_ = kCloseRefused;
      return Close::kRefused;
  }
  return Close::kAllowed;
}

std::string Conversation::StageWords(const char* first, const char* later,
                                     bool numbered) const {
  const bool percent = phase_ == Phase::kErasing || phase_ == Phase::kWriting;
  char text[64];
  if (attempt_ <= 1)
    std::snprintf(text, sizeof text, "%s", first);
  else if (numbered)
    std::snprintf(text, sizeof text, "Attempt %d of %d: %s", attempt_, attempts_, later);
  else
    std::snprintf(text, sizeof text, "%s", first);
  std::string words = text;
  if (percent) {
    std::snprintf(text, sizeof text, " %d%%", bar_value_ * 100 / kBarRange);
    words += text;
  }
  return words;
}

std::string Conversation::bar_text() const {
  // The first attempt says only its stage; a later one says which it is.
  switch (phase_) {
    case Phase::kStarting: return StageWords("Starting", "starting", true);
    case Phase::kErasing: return StageWords("Erasing", "erasing", true);
    case Phase::kWriting: return StageWords("Writing", "writing", true);
    case Phase::kVerifying: return StageWords("Verifying", "verifying", true);
    case Phase::kPausing: return attempt_line_;
    case Phase::kDone: return "Done";
    case Phase::kFailed: return "Failed";
  }
  return {};
}

std::string Conversation::stage_text() const {
  switch (phase_) {
    case Phase::kStarting: return StageWords("Starting", "", false);
    case Phase::kErasing: return StageWords("Erasing", "", false);
    case Phase::kWriting: return StageWords("Writing", "", false);
    case Phase::kVerifying: return StageWords("Verifying", "", false);
    case Phase::kPausing: return "Trying again";
    case Phase::kDone: return "Done";
    case Phase::kFailed: return "Failed";
  }
  return {};
}

std::string Conversation::attempt_text() const {
  if (phase_ == Phase::kPausing) return attempt_line_;
  if (attempt_ <= 1 || phase_ == Phase::kDone || phase_ == Phase::kFailed) return {};
  return "Attempt " + std::to_string(attempt_) + " of " + std::to_string(attempts_);
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

void ConversationView::ReportAttempt(const AttemptEvent& event) {
  OnWindowThread([&] {
    if (event.kind == AttemptEvent::Kind::kGaveUp)
      conversation_.GiveUp(AddressSaved());
    else
      conversation_.Attempt(event);
    Redraw();
  });
}

}  // namespace brivelton
