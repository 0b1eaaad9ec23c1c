// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/host_bench.h"
#include "log/message_log.h"
#include "params/settings_data.h"
#include "params/settings_mapping.h"
#include "sim/virtual_adapter.h"
#include "sim/virtual_serial.h"
#include "support/recording_view.h"

namespace brivelton {
namespace {

using enum CommandKind;

using Lines = std::vector<std::string>;
using OpValue = std::pair<int, int>;

const Lines kSuccess = {" Set parameters successfully"};
const Lines kFailed = {" ERROR !!!", " Set parameters failed"};
const Lines kMediaAudioNote = {"", " Change Media Audio setting.",
                               " Need to reset the device to take effect.", ""};

Lines Join(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The Setting button against the simulated adapter on a virtual port, as
// Check Device leaves things: the port found and a version that has settings.
struct SettingFixture : testing::HostBench {
  explicit SettingFixture(sim::AdapterConfig config = {}) : adapter(Adapter(std::move(config))) {
    AfterCheckDevice({.version = 0x204});
  }

  // The user changes the dialog with `edit` and presses OK.
  void ChooseAndOk(std::function<void(SettingsValues&)> edit) {
    view.edit_settings = [edit](SettingsValues& v) {
      edit(v);
      return true;
    };
  }
  std::vector<OpValue> FramesOf(CommandKind kind) {
    std::vector<OpValue> out;
    for (const auto& frame : adapter.model().frames())
      if (frame.kind == kind)
        out.push_back({frame.bytes.at(5), kind == ParamWrite ? frame.bytes.at(6) : 0});
    return out;
  }
  std::vector<OpValue> Writes() { return FramesOf(ParamWrite); }
  std::vector<int> ReadOps() {
    std::vector<int> ops;
    for (auto [op, value] : FramesOf(ParamRead)) ops.push_back(op);
    return ops;
  }
  // What a fresh Setting run shows now.
  SettingsValues ShownByNextRun() {
    view.edit_settings = nullptr;
    dialog().OnSetting();
    return view.shown_settings.back();
  }

  sim::VirtualAdapter& adapter;
};

const std::vector<int> kReadOrder = {1, 2, 3, 6, 7, 9, 10, 4, 5, 8};

TEST(OnSetting, OkWithoutChangesReadsAllAndWritesNothing) {
  SettingFixture f;
  f.ChooseAndOk([](SettingsValues&) {});
  f.dialog().OnSetting();
  ASSERT_EQ(f.view.shown_settings.size(), 1u);
  // The simulator's stored values are the dialog's defaults.
  EXPECT_EQ(f.view.shown_settings[0], DefaultSettings());
  EXPECT_EQ(f.ReadOps(), kReadOrder);
  EXPECT_TRUE(f.Writes().empty());
  EXPECT_EQ(f.view.log, kSuccess);
  EXPECT_TRUE(f.state().is_open());  // left open for the next button
}

TEST(OnSetting, CancelWritesNothing) {
  SettingFixture f;
  f.view.edit_settings = [](SettingsValues& v) {
    v.m_callerid = 0;
    return false;
  };
  f.dialog().OnSetting();
  EXPECT_EQ(f.ReadOps(), kReadOrder);
  EXPECT_TRUE(f.Writes().empty());
  EXPECT_EQ(f.view.log, Lines{" Set parameters cancelled"});
  EXPECT_EQ(f.adapter.model().param(1), 1u);
}

TEST(OnSetting, OnlyHookSpeed70To30WritesOp4AsZero) {
  SettingFixture f;
  f.ChooseAndOk([](SettingsValues& v) {
    ASSERT_EQ(v.m_hook_speed_index, 2);  // "70 ms"
    v.m_hook_speed_index = 0;            // "30 ms"
  });
  f.dialog().OnSetting();
  EXPECT_EQ(f.Writes(), (std::vector<OpValue>{{4, 0}}));
  EXPECT_EQ(f.view.log, kSuccess);
  EXPECT_EQ(f.adapter.model().param(4), 3u);
}

TEST(OnSetting, OffHookPower150ShowsHighAndLowWrites2) {
  sim::AdapterConfig config;
  config.params[5] = 150;
  SettingFixture f(config);
  f.ChooseAndOk([](SettingsValues& v) { v.m_offhook_pwr_index = 0; });
  f.dialog().OnSetting();
  ASSERT_EQ(f.view.shown_settings.size(), 1u);
  EXPECT_EQ(f.view.shown_settings[0].m_offhook_pwr_index, 2);  // "High"
  EXPECT_EQ(f.Writes(), (std::vector<OpValue>{{5, 2}}));
  EXPECT_EQ(f.adapter.model().param(5), 225u);
  EXPECT_EQ(f.view.log, kSuccess);
}

TEST(OnSetting, EveryChangeIsWrittenInOrderAndStoredAsChosen) {
  SettingFixture f;
  SettingsValues chosen;
  f.ChooseAndOk([&chosen](SettingsValues& v) {
    v.m_callerid = 0;
    v.m_strong_ring = 1;
    v.m_aec = 0;
    v.m_dialtone_dis = 1;
    v.m_reverse_dis = 0;
    v.m_led_display = 1;
    v.m_a2dp = 1;
    v.m_dial_plan_index = 2;       // "# key"
    v.m_offhook_pwr_index = 4;     // "Strongest"
    v.m_hook_speed_index = 3;      // "100 ms"
    chosen = v;
  });
  f.dialog().OnSetting();
  EXPECT_EQ(f.Writes(), (std::vector<OpValue>{
                            {1, 0}, {3, 0}, {6, 1}, {7, 0}, {2, 1}, {9, 1}, {8, 2}, {4, 3},
                            {5, 4}, {10, 1}}));
  EXPECT_EQ(f.view.log, Join(kMediaAudioNote, kSuccess));
  const std::pair<int, uint32_t> stored[] = {{1, 0}, {2, 1}, {3, 0}, {4, 10}, {5, 80},
                                             {6, 1}, {7, 0}, {8, 2}, {9, 1}, {10, 1}};
  for (auto [op, raw] : stored) EXPECT_EQ(f.adapter.model().param(op), raw) << "op " << op;
  EXPECT_EQ(f.ShownByNextRun(), chosen);
}

TEST(OnSetting, FailedWriteStopsTheRestAndKeepsWhatWasWritten) {
  SettingFixture f;
  f.ChooseAndOk([](SettingsValues& v) {
    v.m_callerid = 0;
    v.m_aec = 0;
    v.m_dialtone_dis = 1;
    v.m_a2dp = 1;
  });
  // The adapter stops answering writes once the first one is through.
  f.trace.on_line = [&f](const std::string& line) {
    if (line == " set op 1 = 0") f.adapter.model().config().faults.ignore_kind[ParamWrite] = 2;
  };
  f.dialog().OnSetting();
  // Op 3 is tried twice by the exchange, then nothing more.
  EXPECT_EQ(f.Writes(), (std::vector<OpValue>{{1, 0}, {3, 0}, {3, 0}}));
  EXPECT_EQ(f.view.log, kFailed);
  EXPECT_EQ(f.adapter.model().param(1), 0u);
  EXPECT_EQ(f.adapter.model().param(6), 0u);
  EXPECT_EQ(f.adapter.model().param(10), 0u);
}

struct MediaAudioCase {
  const char* name;
  int withheld_writes;
  Lines log;
  uint32_t stored;
};

void PrintTo(const MediaAudioCase& c, std::ostream* os) { *os << c.name; }

class MediaAudio : public ::testing::TestWithParam<MediaAudioCase> {};

TEST_P(MediaAudio, ChangeIsReportedByItsWriteResult) {
  const MediaAudioCase& c = GetParam();
  SettingFixture f;
  f.ChooseAndOk([&f, &c](SettingsValues& v) {
    v.m_a2dp = 1;
    f.adapter.model().config().faults.ignore_kind[ParamWrite] = c.withheld_writes;
  });
  f.dialog().OnSetting();
  EXPECT_EQ(f.view.log, c.log);
  EXPECT_EQ(f.adapter.model().param(10), c.stored);
  for (auto [op, value] : f.Writes()) EXPECT_EQ(op, 10);
}

INSTANTIATE_TEST_SUITE_P(
    OnSetting, MediaAudio,
    ::testing::Values(MediaAudioCase{"WriteSucceeds", 0, Join(kMediaAudioNote, kSuccess), 1},
                      MediaAudioCase{"WriteFails", 2, kFailed, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OnSetting, OffHookPowerWithoutChoiceIsSkippedAndTheRestGoesOn) {
  SettingFixture f;
  f.ChooseAndOk([](SettingsValues& v) {
    v.m_hook_speed_index = 1;
    v.m_offhook_pwr_index = -1;
    v.m_a2dp = 1;
  });
  f.dialog().OnSetting();
  EXPECT_TRUE(f.Traced(" Unknown parameter for Off-HOOK power selection"));
  EXPECT_EQ(f.Writes(), (std::vector<OpValue>{{4, 1}, {10, 1}}));
  EXPECT_EQ(f.view.log, Join(kMediaAudioNote, kSuccess));
  EXPECT_EQ(f.adapter.model().param(5), 190u);
}

TEST(OnSetting, UnknownRawValuesShowFallbacksAndAreTraced) {
  sim::AdapterConfig config;
  config.params[4] = 8;
  config.params[5] = 100;
  config.params[8] = 3;
  SettingFixture f(config);
  f.ChooseAndOk([](SettingsValues&) {});
  f.dialog().OnSetting();
  ASSERT_EQ(f.view.shown_settings.size(), 1u);
  EXPECT_EQ(f.view.shown_settings[0].m_hook_speed_index, 2);
  EXPECT_EQ(f.view.shown_settings[0].m_offhook_pwr_index, 1);
  EXPECT_EQ(f.view.shown_settings[0].m_dial_plan_index, 0);
  EXPECT_TRUE(f.Traced(" HookCount read unknown 8"));
  EXPECT_TRUE(f.Traced(" OffHookPwr read unknown 100"));
  EXPECT_TRUE(f.Traced(" DialPlan read unknown 3"));
  // A value shown by its fallback is written only when the user changes it.
  EXPECT_TRUE(f.Writes().empty());
  EXPECT_EQ(f.adapter.model().param(4), 8u);
}

TEST(OnSetting, FailedReadsShowDefaults) {
  sim::AdapterConfig config;
  config.params = {{1, 0}, {2, 1}, {3, 0}, {4, 3},  {5, 80},
                   {6, 1}, {7, 0}, {8, 2}, {9, 1}, {10, 1}};
  config.faults.bad_param_ack = true;
  SettingFixture f(config);
  f.ChooseAndOk([](SettingsValues& v) { v.m_led_display = 1; });
  f.dialog().OnSetting();
  ASSERT_EQ(f.view.shown_settings.size(), 1u);
  EXPECT_EQ(f.view.shown_settings[0], DefaultSettings());
  EXPECT_EQ(f.Writes(), (std::vector<OpValue>{{9, 1}}));
  EXPECT_EQ(f.view.log, kSuccess);
}

TEST(OnSetting, ShortReplyClosesThePortAndTheNextReadReopensIt) {
  sim::AdapterConfig config;
  config.params[1] = 0;
  config.faults.short_reply_kind[ParamRead] = 1;
  SettingFixture f(config);
  f.ChooseAndOk([](SettingsValues&) {});
  f.dialog().OnSetting();
  ASSERT_EQ(f.view.shown_settings.size(), 1u);
  SettingsValues expected = DefaultSettings();  // the simulator's values, op 1 aside
  expected.m_callerid = 1;                      // its read was cut short: fallback
  EXPECT_EQ(f.view.shown_settings[0], expected);
  EXPECT_EQ(f.virtual_ports.Find("COM3")->open_count(), 2);
  EXPECT_TRUE(f.Writes().empty());
  EXPECT_EQ(f.view.log, kSuccess);
}

// Whether the firmware has parameters is decided here, before the port is
// touched; every front end only passes the outcome on.
TEST(OnSetting, FirmwareOlderThan200IsRefusedWithoutTouchingThePort) {
  const Lines refused = {" Setting is not supported in this version.",
                         " Please update the firmware first.", " "};
  struct Case {
    std::optional<int> version;  // none: no version came
    SettingsOutcome outcome;
    Lines log;
  };
  const Case cases[] = {
      {std::nullopt, SettingsOutcome::kNotSupported,
       Join({" ", " Device version = 000"}, refused)},
      {0x1FF, SettingsOutcome::kNotSupported, Join({" ", " Device version = 1FF"}, refused)},
      {0x200, SettingsOutcome::kCancelled, {" Set parameters cancelled"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version.value_or(-1));
    SettingFixture f;
    f.AfterCheckDevice({.version = c.version});
    EXPECT_EQ(f.dialog().OnSetting(), c.outcome);
    EXPECT_EQ(f.view.log, c.log);
    const bool refused_early = c.outcome == SettingsOutcome::kNotSupported;
    EXPECT_EQ(f.virtual_ports.Find("COM3")->open_count(), refused_early ? 0 : 1);
    EXPECT_EQ(f.adapter.model().frames().empty(), refused_early);
    EXPECT_EQ(f.view.shown_settings.size(), refused_early ? 0u : 1u);
  }
}

TEST(OnSetting, PortThatCannotBeOpenedEndsWithTheHardwareMessage) {
  SettingFixture f;
  f.AfterCheckDevice({.version = 0x204, .port = "COM9"});
  f.dialog().OnSetting();
  EXPECT_EQ(f.view.log, (Lines{" ", " Can't initial serial port. ",
                               " Please check hardware connection and", " try again.", " "}));
  EXPECT_TRUE(f.view.shown_settings.empty());
  EXPECT_TRUE(f.adapter.model().frames().empty());
}

}  // namespace
}  // namespace brivelton
