// SPDX-License-Identifier: MIT
#include "params/settings_mapping.h"

#include <span>

namespace brivelton {

namespace {

constexpr uint32_t kHookSpeedRaw[] = {3, 5, 7, 10};
constexpr uint32_t kOffHookPowerRaw[] = {225, 190, 150, 95, 80};
constexpr uint32_t kDialPlanRaw[] = {0, 1, 2};
// The adapter reads and writes Off-Hook Power in different encodings.
constexpr uint32_t kOffHookPowerWrite[] = {2, 1, 0, 3, 4};

struct ParamInfo {
  int32_t SettingsValues::*member;
  int32_t fallback;
  std::span<const uint32_t> choices;  // raw value of each index; empty: on/off
};

const ParamInfo* InfoOf(int op) {
  static const ParamInfo kInfo[kParamCount] = {
      {&SettingsValues::m_callerid, 1, {}},
      {&SettingsValues::m_strong_ring, 0, {}},
      {&SettingsValues::m_aec, 1, {}},
      {&SettingsValues::m_hook_speed_index, 2, kHookSpeedRaw},
      {&SettingsValues::m_offhook_pwr_index, 1, kOffHookPowerRaw},
      {&SettingsValues::m_dialtone_dis, 0, {}},
      {&SettingsValues::m_reverse_dis, 1, {}},
      {&SettingsValues::m_dial_plan_index, 0, kDialPlanRaw},
      {&SettingsValues::m_led_display, 0, {}},
      {&SettingsValues::m_a2dp, 0, {}},
  };
  if (op < 1 || op > kParamCount) return nullptr;
  return &kInfo[op - 1];
}

}  // namespace

int32_t SettingsValues::*ParamMember(int op) {
  const ParamInfo* info = InfoOf(op);
  return info ? info->member : nullptr;
}

int32_t MemberFromRaw(int op, std::optional<uint32_t> raw, bool* unknown) {
  if (unknown) *unknown = false;
  const ParamInfo* info = InfoOf(op);
  if (!info) return 0;
  if (!raw) return info->fallback;
  if (info->choices.empty()) return *raw != 0 ? 1 : 0;
  for (size_t i = 0; i < info->choices.size(); ++i)
    if (info->choices[i] == *raw) return static_cast<int32_t>(i);
  if (unknown) *unknown = true;
  return info->fallback;
}

bool UnknownRaw(int op, std::optional<uint32_t> raw) {
  bool unknown = false;
  MemberFromRaw(op, raw, &unknown);
  return unknown;
}

SettingsValues MapReadValues(const RawParams& raw) {
  SettingsValues values;
  for (int op = 1; op <= kParamCount; ++op)
    values.*ParamMember(op) = MemberFromRaw(op, raw[op - 1]);
  return values;
}

std::optional<uint32_t> OffHookPowerWriteValue(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(std::size(kOffHookPowerWrite)))
    return std::nullopt;
  return kOffHookPowerWrite[index];
}

std::optional<uint32_t> RawToWrite(int op, int32_t member) {
  if (op == kOffHookPowerOp) return OffHookPowerWriteValue(member);
  return static_cast<uint32_t>(member);
}

std::vector<PlannedWrite> PlanWrites(const SettingsValues& read,
                                     const SettingsValues& chosen) {
  std::vector<PlannedWrite> writes;
  for (int op : kParamWriteOrder) {
    const auto member = ParamMember(op);
    if (chosen.*member != read.*member)
      writes.push_back({op, RawToWrite(op, chosen.*member)});
  }
  return writes;
}

}  // namespace brivelton
