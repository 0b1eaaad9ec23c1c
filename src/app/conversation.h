// SPDX-License-Identifier: MIT
#pragma once
// What a window shows around a button's conversation with the adapter, free of
// any toolkit: whether it takes input, whether it may close, and the update's
// progress bar with its words. A window feeds it the events and draws what it
// says; every window draws the same.
#include <functional>
#include <string>

#include "app/main_view.h"
#include "update/updater.h"

namespace brivelton {

class Conversation {
 public:
  enum class State { kIdle, kBusy, kFlashing };
  enum class Close { kAllowed, kDeferred, kRefused };

  // The bar's scale: fine enough that each page moves it.
  static constexpr int kBarRange = 1000;

  // A button's conversation starts; false (and nothing changes) while one runs.
  bool Start();
  // It has ended, its result dialog dismissed; true when a close asked for
  // meanwhile is now due.
  bool End();
  void FlashBegins();
  void Progress(UpdateStage stage, int done, int total);
  // A failed flash is not the end: the attempt's failure, the pause and the
  // next attempt follow, or GiveUp after the last.
  void FlashEnds(bool verified);
  // An attempt begins or failed (with the pause after it, none after the
  // last); the others leave the bar as the flash's events put it.
  void Attempt(const AttemptEvent& event);
  // The last attempt failed, or the conversation stopped before a verdict.
  // `address_saved`: the journal keeps the address the update was writing.
  void GiveUp(bool address_saved);
  // The user asked the window to close. A refused or deferred close says why
  // in notice().
  Close RequestClose();

  State state() const { return state_; }
  bool idle() const { return state_ == State::kIdle; }
  // The bar, its words and the line beside it: from the first erase to the end
  // of the conversation, so that the end is still on screen under the result.
  bool bar_shown() const { return bar_shown_; }
  // 0 to kBarRange, weighted by each stage's expected time.
  int bar_value() const { return bar_value_; }
  // "Erasing 35%", "Writing 62%", "Verifying", "Done" or "Failed"; in the
  // pause after a failed attempt, what failed and when the next one starts;
  // during a later attempt, which one it is.
  std::string bar_text() const;
  // The same in two parts, for a window that shows them apart: the stage
  // alone ("Writing 62%", "Trying again" in the pause, "Done", "Failed") and
  // the attempt's account (empty in the first attempt; "Attempt 1 of 20
  // failed: ..." in the pause; "Attempt 2 of 20" while a later one runs).
  std::string stage_text() const;
  std::string attempt_text() const;
  // The line beside the bar; empty when there is nothing to say.
  const std::string& notice() const { return notice_; }

 private:
  enum class Phase { kStarting, kErasing, kWriting, kVerifying, kPausing, kDone, kFailed };
  // The stage's words: `first` in the first attempt, `later` after "Attempt
  // n of m: " (when `numbered`) in a later one.
  std::string StageWords(const char* first, const char* later, bool numbered) const;

  State state_ = State::kIdle;
  Phase phase_ = Phase::kErasing;
  bool bar_shown_ = false;
  bool close_due_ = false;
  // An erase was sent: until a verified flash the adapter may have no
  // working firmware.
  bool erased_ = false;
  int attempt_ = 1;
  int attempts_ = kMaxAttempts;
  int bar_value_ = 0;
  std::string attempt_line_;
  std::string notice_;
};

// A window's side of the flash's events: they come from the conversation's
// thread, go to the controller on the window's own, and the window redraws.
class ConversationView : public MainView {
 public:
  void FlashBegins() override;
  void UpdateProgress(UpdateStage stage, int done, int total) override;
  void FlashEnds(bool verified) override;
  void ReportAttempt(const AttemptEvent& event) override;

 protected:
  // Whether the journal keeps the address an update was writing; asked on
  // the window's thread once the attempts are over without a verified flash.
  virtual bool AddressSaved() { return false; }
  // Runs `call` on the window's thread and returns when it is done there.
  virtual void OnWindowThread(const std::function<void()>& call) = 0;
  // Brings the buttons, the bar and its lines in line with the conversation.
  virtual void Redraw() = 0;

  // Touched on the window's thread only.
  Conversation conversation_;
};

// A rectangle on the screen, in pixels; right and bottom just outside it.
struct ScreenRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// Where a dialog `width` by `height` opened over `owner` goes so that `keep`
// (the bar, its words and the notice) stays in view: just left of `keep`,
// centred on the owner up and down; below `keep` when the screen's `area`
// has no room on the left; always within `area`.
ScreenRect PlaceClearOf(const ScreenRect& owner, const ScreenRect& keep, int width, int height,
                        const ScreenRect& area);

// The flash's progress from 0 to 1 after `done` of `total` steps of `stage`,
// weighted by each step's expected time.
double FlashFraction(UpdateStage stage, int done, int total);

}  // namespace brivelton
