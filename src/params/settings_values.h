// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>

namespace brivelton {

// The ten members of the parameter dialog. A new dialog starts with the check
// members 0 and the index members -1 (no choice).
struct SettingsValues {
  int32_t m_callerid = 0;
  int32_t m_aec = 0;
  int32_t m_a2dp = 0;
  int32_t m_dialtone_dis = 0;
  int32_t m_reverse_dis = 0;
  int32_t m_strong_ring = 0;
  int32_t m_led_display = 0;
  int32_t m_dial_plan_index = -1;
  int32_t m_offhook_pwr_index = -1;
  int32_t m_hook_speed_index = -1;

  bool operator==(const SettingsValues&) const = default;
};

}  // namespace brivelton
