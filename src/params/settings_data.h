// SPDX-License-Identifier: MIT
#pragma once
// The parameter dialog's data shared by every front end: which control holds
// which member, the defaults, the OK trace, and the help list.
#include <array>
#include <cstdint>
#include <span>

#include "log/message_log.h"
#include "params/settings_values.h"

namespace brivelton {

inline constexpr int kIdCallerId = 1044;
inline constexpr int kIdEchoCancel = 1030;
inline constexpr int kIdMediaAudio = 1031;
inline constexpr int kIdDialtoneDis = 1032;
inline constexpr int kIdReverseDis = 1033;
inline constexpr int kIdStrongRing = 1034;
inline constexpr int kIdLedDisplay = 1035;
inline constexpr int kIdDialPlan = 1051;
inline constexpr int kIdOffHookPower = 1052;
inline constexpr int kIdHookSpeed = 1053;

// The seven check boxes and three drop-down lists, in template order.
inline constexpr std::array<int, 7> kCheckBoxIds = {
    kIdCallerId, kIdEchoCancel, kIdMediaAudio, kIdDialtoneDis,
    kIdReverseDis, kIdStrongRing, kIdLedDisplay};
inline constexpr std::array<int, 3> kDropDownIds = {kIdDialPlan, kIdOffHookPower,
                                                    kIdHookSpeed};

// The member a control of the dialog is bound to; null for other ids.
int32_t* SettingsMember(SettingsValues& values, int control_id);

// What "Set to Default" puts into the controls, and a failed read falls back to.
SettingsValues DefaultSettings();

// The trace lines of the dialog's OK, in their order.
void TraceSettingsOnOk(const SettingsValues& values, MessageLog& log);

// The help list: 41 lines, exactly as shown.
std::span<const char* const> SettingsHelpLines();

}  // namespace brivelton
