// SPDX-License-Identifier: MIT
// The conversation around a button: what the window takes, whether it may
// close and why not, and the flash's bar with its words; and that the bar
// keeps pace with the time an update really takes on the simulated adapter.
#include "app/conversation.h"
#include "app/conversation_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <new>
#include <stdexcept>
#include <system_error>
#include <tuple>
#include <string>
#include <vector>

#include "support/failure_of.h"
#include "support/host_bench.h"

namespace brivelton {
namespace {

using State = Conversation::State;

const std::string kUnplug = "Do not unplug the adapter or close this window.";
const std::string kRefused =
    "The window stays open while the flash is rewritten: closing now would leave "
    "the adapter without firmware.";
const std::string kDeferred = "The window closes when the adapter has answered.";
const std::string kNoFirmwareSaved =
    "The adapter has no working firmware. Its address is saved on this PC: press Update "
    "Firmware again.";
const std::string kNoFirmware = "The adapter has no working firmware: press Update Firmware again.";
const std::string kChecksumPause =
    "Attempt 1 of 20 failed: the checksum did not match. Trying again in 3 s.";

// The attempts' events take their numbers from a step's `done` and `total`:
// kAttemptBegins attempt `done`; kAttemptFailed attempt `done`, pausing
// `total` ms (0 after the last), for a wrong checksum; kGaveUp with the
// address saved when `done` is 1.
enum class Event { kStart, kEnd, kClose, kFlashBegins, kErase, kWrite, kVerify, kVerified,
                   kFlashFailed, kAttemptBegins, kAttemptFailed, kGaveUp };

struct Step {
  Event event;
  int done = 0, total = 0;
  // What Start or End return (1 true, 0 false), or the close answer
  // (0 allowed, 1 deferred, 2 refused); -1 for the other events.
  int answer;
  State state;
  std::string bar;  // empty: no bar
  std::string notice;
};

struct Scenario {
  const char* name;
  std::vector<Step> steps;
};

int Apply(Conversation& c, const Step& s) {
  switch (s.event) {
    case Event::kStart: return c.Start() ? 1 : 0;
    case Event::kEnd: return c.End() ? 1 : 0;
    case Event::kClose: return static_cast<int>(c.RequestClose());
    case Event::kFlashBegins: c.FlashBegins(); break;
    case Event::kErase: c.Progress(UpdateStage::kErase, s.done, s.total); break;
    case Event::kWrite: c.Progress(UpdateStage::kWrite, s.done, s.total); break;
    case Event::kVerify: c.Progress(UpdateStage::kVerify, s.done, s.total); break;
    case Event::kVerified: c.FlashEnds(true); break;
    case Event::kFlashFailed: c.FlashEnds(false); break;
    case Event::kAttemptBegins:
      c.Attempt({.kind = AttemptEvent::Kind::kBegins, .attempt = s.done});
      break;
    case Event::kAttemptFailed:
      c.Attempt({.kind = AttemptEvent::Kind::kFailed,
                 .attempt = s.done,
                 .why = AttemptFailure::kChecksumMismatch,
                 .pause_ms = static_cast<uint32_t>(s.total)});
      break;
    case Event::kGaveUp: c.GiveUp(s.done == 1); break;
  }
  return -1;
}

TEST(Conversation, EventsInStateAndTextsOut) {
  using E = Event;
  const auto I = State::kIdle, B = State::kBusy, F = State::kFlashing;
  const std::vector<Scenario> scenarios = {
      {"an update that succeeds",
       {{E::kStart, 0, 0, 1, B, "", ""},
        {E::kStart, 0, 0, 0, B, "", ""},
        {E::kFlashBegins, 0, 0, -1, F, "Erasing 0%", kUnplug},
        {E::kErase, 1, 30, -1, F, "Erasing 2%", kUnplug},
        // The 64 KiB blocks take most of the erase.
        {E::kErase, 16, 30, -1, F, "Erasing 34%", kUnplug},
        {E::kErase, 30, 30, -1, F, "Erasing 38%", kUnplug},
        {E::kWrite, 1, 125, -1, F, "Writing 39%", kUnplug},
        {E::kWrite, 62, 125, -1, F, "Writing 68%", kUnplug},
        {E::kWrite, 124, 125, -1, F, "Writing 98%", kUnplug},
        {E::kWrite, 125, 125, -1, F, "Writing 99%", kUnplug},
        {E::kVerify, 0, 1, -1, F, "Verifying", kUnplug},
        {E::kVerify, 1, 1, -1, F, "Verifying", kUnplug},
        {E::kVerified, 0, 0, -1, B, "Done", ""},
        {E::kEnd, 0, 0, 0, I, "", ""},
        {E::kStart, 0, 0, 1, B, "", ""}}},
      {"a close asked for before the flash waits for the end, past the flash",
       {{E::kStart, 0, 0, 1, B, "", ""},
        {E::kClose, 0, 0, 1, B, "", kDeferred},
        {E::kFlashBegins, 0, 0, -1, F, "Erasing 0%", kUnplug},
        {E::kVerified, 0, 0, -1, B, "Done", kDeferred},
        {E::kEnd, 0, 0, 1, I, "", ""}}},
      {"a close during the flash is refused, and stays refused to the next attempt's erase",
       {{E::kStart, 0, 0, 1, B, "", ""},
        {E::kAttemptBegins, 1, 0, -1, B, "", ""},
        {E::kFlashBegins, 0, 0, -1, F, "Erasing 0%", kUnplug},
        {E::kErase, 3, 30, -1, F, "Erasing 6%", kUnplug},
        {E::kClose, 0, 0, 2, F, "Erasing 6%", kRefused},
        {E::kErase, 4, 30, -1, F, "Erasing 8%", kRefused},
        // The erased adapter has no firmware until a flash is verified.
        {E::kFlashFailed, 0, 0, -1, F, "Erasing 8%", kRefused},
        {E::kAttemptFailed, 1, 3000, -1, F, kChecksumPause, kRefused},
        {E::kClose, 0, 0, 2, F, kChecksumPause, kRefused},
        {E::kAttemptBegins, 2, 0, -1, F, "Attempt 2 of 20: starting", kRefused},
        {E::kFlashBegins, 0, 0, -1, F, "Attempt 2 of 20: erasing 0%", kUnplug},
        {E::kVerified, 0, 0, -1, B, "Done", ""},
        {E::kEnd, 0, 0, 0, I, "", ""},
        {E::kClose, 0, 0, 0, I, "", ""}}},
      {"a failed attempt, the pause, and the next attempt that succeeds",
       {{E::kStart, 0, 0, 1, B, "", ""},
        {E::kAttemptBegins, 1, 0, -1, B, "", ""},
        {E::kFlashBegins, 0, 0, -1, F, "Erasing 0%", kUnplug},
        {E::kErase, 30, 30, -1, F, "Erasing 38%", kUnplug},
        {E::kWrite, 125, 125, -1, F, "Writing 99%", kUnplug},
        {E::kVerify, 0, 1, -1, F, "Verifying", kUnplug},
        {E::kFlashFailed, 0, 0, -1, F, "Verifying", kUnplug},
        // Never "Failed" before the last attempt: the bar starts over, the
        // warning stays, and a close is still refused.
        {E::kAttemptFailed, 1, 3000, -1, F, kChecksumPause, kUnplug},
        {E::kWrite, 20, 125, -1, F, kChecksumPause, kUnplug},
        {E::kAttemptBegins, 2, 0, -1, F, "Attempt 2 of 20: starting", kUnplug},
        {E::kFlashBegins, 0, 0, -1, F, "Attempt 2 of 20: erasing 0%", kUnplug},
        {E::kErase, 30, 30, -1, F, "Attempt 2 of 20: erasing 38%", kUnplug},
        {E::kWrite, 62, 125, -1, F, "Attempt 2 of 20: writing 68%", kUnplug},
        {E::kVerify, 0, 1, -1, F, "Attempt 2 of 20: verifying", kUnplug},
        {E::kClose, 0, 0, 2, F, "Attempt 2 of 20: verifying", kRefused},
        {E::kVerified, 0, 0, -1, B, "Done", ""},
        {E::kClose, 0, 0, 1, B, "Done", kDeferred},
        {E::kEnd, 0, 0, 1, I, "", ""},
        // A conversation after it that stops on a failed flash says so.
        {E::kStart, 0, 0, 1, B, "", ""},
        {E::kFlashBegins, 0, 0, -1, F, "Erasing 0%", kUnplug},
        {E::kFlashFailed, 0, 0, -1, F, "Erasing 0%", kUnplug},
        {E::kGaveUp, 0, 0, -1, B, "Failed", kNoFirmware},
        {E::kEnd, 0, 0, 0, I, "", ""}}},
      {"the last attempt fails: the adapter has no firmware, its address is saved",
       {{E::kStart, 0, 0, 1, B, "", ""},
        {E::kAttemptBegins, 1, 0, -1, B, "", ""},
        {E::kFlashBegins, 0, 0, -1, F, "Erasing 0%", kUnplug},
        {E::kFlashFailed, 0, 0, -1, F, "Erasing 0%", kUnplug},
        {E::kAttemptFailed, 1, 3000, -1, F, kChecksumPause, kUnplug},
        {E::kAttemptBegins, 20, 0, -1, F, "Attempt 20 of 20: starting", kUnplug},
        {E::kFlashBegins, 0, 0, -1, F, "Attempt 20 of 20: erasing 0%", kUnplug},
        {E::kWrite, 62, 125, -1, F, "Attempt 20 of 20: writing 68%", kUnplug},
        {E::kFlashFailed, 0, 0, -1, F, "Attempt 20 of 20: writing 68%", kUnplug},
        {E::kAttemptFailed, 20, 0, -1, F, "Attempt 20 of 20: writing 68%", kUnplug},
        {E::kGaveUp, 1, 0, -1, B, "Failed", kNoFirmwareSaved},
        // The notice stays beside the reason the window closes later.
        {E::kClose, 0, 0, 1, B, "Failed", kNoFirmwareSaved + " " + kDeferred},
        {E::kClose, 0, 0, 1, B, "Failed", kNoFirmwareSaved + " " + kDeferred},
        {E::kEnd, 0, 0, 1, I, "", ""}}},
      {"the last attempt fails with no address saved",
       {{E::kStart, 0, 0, 1, B, "", ""},
        {E::kFlashBegins, 0, 0, -1, F, "Erasing 0%", kUnplug},
        {E::kFlashFailed, 0, 0, -1, F, "Erasing 0%", kUnplug},
        {E::kGaveUp, 0, 0, -1, B, "Failed", kNoFirmware},
        {E::kEnd, 0, 0, 0, I, "", ""}}},
      {"attempts that fail before any erase leave the adapter's firmware: a close waits",
       {{E::kStart, 0, 0, 1, B, "", ""},
        {E::kAttemptBegins, 1, 0, -1, B, "", ""},
        {E::kAttemptFailed, 1, 3000, -1, B, kChecksumPause, ""},
        {E::kClose, 0, 0, 1, B, kChecksumPause, kDeferred},
        {E::kAttemptBegins, 2, 0, -1, B, "Attempt 2 of 20: starting", kDeferred},
        {E::kAttemptFailed, 20, 0, -1, B, "Attempt 2 of 20: starting", kDeferred},
        {E::kGaveUp, 1, 0, -1, B, "Failed", kDeferred},
        {E::kEnd, 0, 0, 1, I, "", ""}}},
      {"counts that go back or overshoot move the bar neither back nor past 99%",
       {{E::kStart, 0, 0, 1, B, "", ""},
        {E::kFlashBegins, 0, 0, -1, F, "Erasing 0%", kUnplug},
        {E::kWrite, 62, 125, -1, F, "Writing 68%", kUnplug},
        {E::kErase, 2, 30, -1, F, "Erasing 68%", kUnplug},
        {E::kWrite, 400, 125, -1, F, "Writing 99%", kUnplug},
        {E::kVerify, 5, 1, -1, F, "Verifying", kUnplug},
        {E::kErase, 1, 0, -1, F, "Erasing 99%", kUnplug},
        {E::kFlashFailed, 0, 0, -1, F, "Erasing 99%", kUnplug},
        {E::kEnd, 0, 0, 0, I, "", ""}}},
      {"a conversation without a flash shows no bar",
       {{E::kClose, 0, 0, 0, I, "", ""},
        {E::kEnd, 0, 0, 0, I, "", ""},
        {E::kStart, 0, 0, 1, B, "", ""},
        {E::kErase, 5, 30, -1, B, "", ""},
        {E::kEnd, 0, 0, 0, I, "", ""}}},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    Conversation c;
    for (size_t i = 0; i < scenario.steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      const Step& s = scenario.steps[i];
      EXPECT_EQ(Apply(c, s), s.answer);
      EXPECT_EQ(c.state(), s.state);
      EXPECT_EQ(c.idle(), s.state == State::kIdle);
      EXPECT_EQ(c.bar_shown(), !s.bar.empty());
      if (c.bar_shown()) {
        EXPECT_EQ(c.bar_text(), s.bar);
        // The page shows the same story in two parts: the attempt's account
        // leads the words, the stage alone never says "Failed" early.
        const std::string attempt = c.attempt_text();
        if (attempt.empty())
          EXPECT_EQ(c.stage_text(), s.bar);
        else
          EXPECT_EQ(s.bar.substr(0, attempt.size()), attempt);
        EXPECT_EQ(c.stage_text() == "Failed", s.bar == "Failed");
      }
      EXPECT_EQ(c.notice(), s.notice);
      EXPECT_GE(c.bar_value(), 0);
      EXPECT_LE(c.bar_value(), Conversation::kBarRange);
      EXPECT_EQ(c.bar_value() == Conversation::kBarRange, c.bar_shown() && s.bar == "Done");
    }
  }
}

// The result dialog beside the bar, its words and the notice, never over
// them, and on the screen.
TEST(Conversation, ResultDialogLeavesTheBarInView) {
  struct Case {
    const char* name;
    ScreenRect owner, keep;
    int w, h;
    ScreenRect area, want;
  };
  const ScreenRect screen{0, 0, 1280, 1024};
  const std::vector<Case> cases = {
      {"left of the column, centred on the window", {400, 200, 900, 680},
       {754, 350, 870, 600}, 374, 84, screen, {372, 398, 746, 482}},
      {"no room on the left: below the notice", {0, 200, 500, 680}, {354, 350, 470, 600}, 374, 84,
       screen, {63, 608, 437, 692}},
      {"below, but kept on the screen", {0, 600, 500, 1080}, {354, 750, 470, 1000}, 374, 84,
       screen, {63, 940, 437, 1024}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScreenRect got = PlaceClearOf(c.owner, c.keep, c.w, c.h, c.area);
    EXPECT_EQ(std::tie(got.left, got.top, got.right, got.bottom),
              std::tie(c.want.left, c.want.top, c.want.right, c.want.bottom));
  }
}

// On the simulated adapter, in virtual time: at every count the updater
// passes, the bar stands where the elapsed share of the flash's time does.
TEST(Conversation, BarKeepsPaceWithTheFlash) {
  testing::HostBench bench;
  bench.Adapter();
  ASSERT_TRUE(bench.AfterCheckDevice({.version = 0x1FF, .open = true}));

  struct Sample {
    uint64_t ms;
    double fraction;
  };
  std::vector<Sample> samples;
  uint64_t begins = 0, ends = 0;
  bench.updater.options().flash_span = [&](bool begin, bool) {
    (begin ? begins : ends) = bench.clock.NowMs();
  };
  bench.updater.options().progress = [&](UpdateStage stage, int done, int total) {
    samples.push_back({bench.clock.NowMs(), FlashFraction(stage, done, total)});
  };
  ASSERT_EQ(bench.updater.RunUpdate(), UpdateOutcome::kSucceeded);
  ASSERT_GT(ends, begins);
  ASSERT_EQ(samples.size(), 30u + 125u + 2u);

  double worst = 0;
  for (const Sample& s : samples) {
    const double elapsed = static_cast<double>(s.ms - begins) / static_cast<double>(ends - begins);
    worst = std::max(worst, std::abs(s.fraction - elapsed));
  }
  EXPECT_LT(worst, 0.03) << "the flash took " << ends - begins << " ms";
  EXPECT_DOUBLE_EQ(samples.back().fraction, 1.0);
}

// Whatever a conversation throws ends on its own thread and is handed to
// `done` by name; a thread that can't be made runs nothing and says why.
TEST(ConversationThread, ThrowsAreReportedAndAFailedStartRunsNothing) {
  struct Case {
    const char* name;
    std::function<void()> work;
    std::string failure;
  };
  const std::vector<Case> cases = {
      {"runs to its end", [] {}, ""},
      {"a runtime error", [] { throw std::runtime_error("port gone"); }, "port gone"},
      {"out of memory", [] { throw std::bad_alloc(); }, std::bad_alloc().what()},
      {"an empty message", [] { throw std::runtime_error(""); }, "an exception without a message"},
      {"not an exception class", [] { throw 42; }, "an exception of unknown type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConversationThread thread;
    std::atomic<int> calls{0};
    std::string failure = "not called";
    std::thread::id ran_on, done_on;
    const auto started = thread.Start(
        [&] {
          ran_on = std::this_thread::get_id();
          c.work();
        },
        [&](const std::string& what) {
          done_on = std::this_thread::get_id();
          failure = what;
          ++calls;
        });
    ASSERT_TRUE(started) << started.error().text();
    thread.Join();
    EXPECT_FALSE(thread.joinable());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(failure, c.failure);
    EXPECT_EQ(ran_on, done_on);
    EXPECT_NE(ran_on, std::this_thread::get_id());
  }

  ConversationThread thread;
  thread.set_spawn([](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                            "no thread");
  });
  bool ran = false;
  const std::string error =
      FailureOf(thread.Start([&] { ran = true; }, [&](const std::string&) { ran = true; }));
  EXPECT_FALSE(ran);
  EXPECT_FALSE(thread.joinable());
  EXPECT_NE(error.find("no thread"), std::string::npos) << error;
}

}  // namespace
}  // namespace brivelton
