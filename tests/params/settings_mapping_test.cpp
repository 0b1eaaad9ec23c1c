// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "params/settings_data.h"
#include "params/settings_mapping.h"
#include "resources/dialog_templates.h"
#include "support/settings_help_text.h"

namespace brivelton {
namespace {

// Each op's parameter by name and the dialog control of that name, both as
// given; the op must reach the member that control shows.
TEST(SettingsMapping, EachOpHoldsTheMemberOfItsControl) {
  const struct {
    int op;
    const char* parameter;
    int control;
  } ops[] = {
      {1, "Caller ID", 1044},
      {2, "Strong Ringing Voltage", 1034},
      {3, "Echo Cancel", 1030},
      {4, "Hook Detection Speed", 1053},
      {5, "Off-Hook Power", 1052},
      {6, "Dialtone after disconnection", 1032},
      {7, "Reverse Tip/Ring after disconnection", 1033},
      {8, "Dialing Plan", 1051},
      {9, "LED debug display", 1035},
      {10, "Media Audio", 1031},
  };
  for (const auto& [op, parameter, control] : ops) {
    SettingsValues values;
    const auto member = ParamMember(op);
    ASSERT_NE(member, nullptr) << parameter;
    EXPECT_EQ(&(values.*member), SettingsMember(values, control)) << parameter;
  }
  EXPECT_EQ(ParamMember(0), nullptr);
  EXPECT_EQ(ParamMember(11), nullptr);
}

// Both directions in one table: what a raw value read shows, and what that
// choice is written back as.
struct MappingRow {
  int op;
  std::optional<uint32_t> raw;  // nullopt: the read failed
  int32_t member;
  bool unknown;
  std::optional<uint32_t> written;  // what `member` is written as
};

const MappingRow kRows[] = {
    // Hook Detection Speed: read 3/5/7/10 ms counts, written as the index.
    {4, 3, 0, false, 0},
    {4, 5, 1, false, 1},
    {4, 7, 2, false, 2},
    {4, 10, 3, false, 3},
    {4, 30, 2, true, 2},
    {4, std::nullopt, 2, false, 2},
    // Off-Hook Power: read and write encodings differ.
    {5, 225, 0, false, 2},
    {5, 190, 1, false, 1},
    {5, 150, 2, false, 0},
    {5, 95, 3, false, 3},
    {5, 80, 4, false, 4},
    {5, 2, 1, true, 1},
    {5, std::nullopt, 1, false, 1},
    // Dialing Plan.
    {8, 0, 0, false, 0},
    {8, 1, 1, false, 1},
    {8, 2, 2, false, 2},
    {8, 3, 0, true, 0},
    {8, std::nullopt, 0, false, 0},
    // On/off parameters: any non-zero is on; a failed read takes the default.
    {1, 0, 0, false, 0},
    {1, 7, 1, false, 1},
    {1, std::nullopt, 1, false, 1},
    {2, 1, 1, false, 1},
    {2, std::nullopt, 0, false, 0},
    {3, 0, 0, false, 0},
    {3, std::nullopt, 1, false, 1},
    {6, 0xFFFFFFFF, 1, false, 1},
    {6, std::nullopt, 0, false, 0},
    {7, 0, 0, false, 0},
    {7, std::nullopt, 1, false, 1},
    {9, 1, 1, false, 1},
    {9, std::nullopt, 0, false, 0},
    {10, 1, 1, false, 1},
    {10, std::nullopt, 0, false, 0},
};

TEST(SettingsMapping, RawValuesAndChoicesBothWays) {
  for (const MappingRow& row : kRows) {
    SCOPED_TRACE("op " + std::to_string(row.op) + " raw " +
                 (row.raw ? std::to_string(*row.raw) : std::string("failed")));
    bool unknown = !row.unknown;
    EXPECT_EQ(MemberFromRaw(row.op, row.raw, &unknown), row.member);
    EXPECT_EQ(unknown, row.unknown);
    EXPECT_EQ(RawToWrite(row.op, row.member), row.written);
  }
}

TEST(SettingsMapping, OffHookPowerOutsideItsChoicesHasNoValue) {
  for (int index : {-1, 5, 100}) {
    EXPECT_EQ(OffHookPowerWriteValue(index), std::nullopt) << index;
    EXPECT_EQ(RawToWrite(kOffHookPowerOp, index), std::nullopt) << index;
  }
}

TEST(SettingsMapping, FailedReadsShowTheDefaults) {
  EXPECT_EQ(MapReadValues(RawParams{}), DefaultSettings());
}

TEST(SettingsMapping, ReadValuesLandInTheirMembers) {
  RawParams raw;
  // op:        1  2  3  4   5   6  7  8  9  10
  const uint32_t values[] = {0, 1, 0, 10, 80, 1, 0, 2, 1, 1};
  for (int i = 0; i < kParamCount; ++i) raw[i] = values[i];
  SettingsValues expected;
  expected.m_callerid = 0;
  expected.m_strong_ring = 1;
  expected.m_aec = 0;
  expected.m_hook_speed_index = 3;
  expected.m_offhook_pwr_index = 4;
  expected.m_dialtone_dis = 1;
  expected.m_reverse_dis = 0;
  expected.m_dial_plan_index = 2;
  expected.m_led_display = 1;
  expected.m_a2dp = 1;
  EXPECT_EQ(MapReadValues(raw), expected);
}

TEST(SettingsMapping, OnlyChangedMembersAreWrittenInWriteOrder) {
  const SettingsValues read = DefaultSettings();
  EXPECT_TRUE(PlanWrites(read, read).empty());

  SettingsValues all = read;
  for (int op = 1; op <= kParamCount; ++op) all.*ParamMember(op) ^= 1;
  all.m_offhook_pwr_index = 0;  // Low
  const std::vector<PlannedWrite> expected = {
      {1, 0}, {3, 0}, {6, 1}, {7, 0}, {2, 1}, {9, 1}, {8, 1}, {4, 3}, {5, 2}};
  EXPECT_EQ(PlanWrites(read, all), expected);  // Media Audio is not among them

  SettingsValues no_choice = read;
  no_choice.m_offhook_pwr_index = -1;
  EXPECT_EQ(PlanWrites(read, no_choice), (std::vector<PlannedWrite>{{5, std::nullopt}}));
}

TEST(SettingsHelp, FortyOneLinesOneTopicPerDialogLabel) {
  const auto lines = SettingsHelpLines();
  ASSERT_EQ(lines.size(), 41u);
  EXPECT_STREQ(lines.front(), "Caller ID: ");
  EXPECT_STREQ(lines.back(), "     during ringing. ");

  // Each topic starts with the text of its control in the dialog, in the
  // dialog's order; topics are parted by a line of four spaces.
  std::vector<std::string> topics;
  bool next_is_topic = true;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string line = lines[i];
    if (line == "    ") {
      EXPECT_FALSE(next_is_topic) << "two separators at line " << i + 1;
      next_is_topic = true;
      continue;
    }
    if (next_is_topic) topics.push_back(line);
    else EXPECT_EQ(line.rfind("     ", 0), 0u) << "line " << i + 1 << " not indented";
    next_is_topic = false;
  }
  std::vector<std::string> labels;
  for (const auto& control : ui::SettingsDialogTemplate().controls)
    if (control.kind == ui::ControlKind::kCheckBox ||
        (control.kind == ui::ControlKind::kLabel && control.text[0] != '\0'))
      labels.push_back(std::string(control.text) + ": ");
  EXPECT_EQ(topics, labels);
  EXPECT_STREQ(lines[28], "     Without timeout: No time out to place");  // no trailing space
}

// Every line as given, trailing spaces and spelling included: the list is
// what users have always read, slips and all.
TEST(SettingsHelp, EveryLineAsGiven) {
  const auto lines = SettingsHelpLines();
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end()), testing::kSettingsHelpText);
}

}  // namespace
}  // namespace brivelton
