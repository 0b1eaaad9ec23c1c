// SPDX-License-Identifier: MIT
#include "params/settings_data.h"

#include "log/message_log.h"

namespace brivelton {

int32_t* SettingsMember(SettingsValues& v, int control_id) {
  switch (control_id) {
    case kIdCallerId: return &v.m_callerid;
    case kIdEchoCancel: return &v.m_aec;
    case kIdMediaAudio: return &v.m_a2dp;
    case kIdDialtoneDis: return &v.m_dialtone_dis;
    case kIdReverseDis: return &v.m_reverse_dis;
    case kIdStrongRing: return &v.m_strong_ring;
    case kIdLedDisplay: return &v.m_led_display;
    case kIdDialPlan: return &v.m_dial_plan_index;
    case kIdOffHookPower: return &v.m_offhook_pwr_index;
    case kIdHookSpeed: return &v.m_hook_speed_index;
    default: return nullptr;
  }
}

SettingsValues DefaultSettings() {
  SettingsValues v;
  v.m_callerid = 1;
  v.m_aec = 1;
  v.m_a2dp = 0;
  v.m_dialtone_dis = 0;
  v.m_reverse_dis = 1;
  v.m_strong_ring = 0;
  v.m_led_display = 0;
  v.m_dial_plan_index = 0;
  v.m_offhook_pwr_index = 1;
  v.m_hook_speed_index = 2;
  return v;
}

void TraceSettingsOnOk(const SettingsValues& v, MessageLog& log) {
  log.Trace(" m_a2dp\t\t\t= %d", v.m_a2dp);
  log.Trace(" m_aec\t\t\t= %d", v.m_aec);
  log.Trace(" m_callerid\t\t= %d", v.m_callerid);
  log.Trace(" m_dialtone_dis\t= %d", v.m_dialtone_dis);
  log.Trace(" m_reverse_dis\t= %d", v.m_reverse_dis);
  log.Trace(" m_strong_ring\t= %d", v.m_strong_ring);
  log.Trace(" m_led_display\t= %d", v.m_led_display);
  log.Trace(" m_dial_plan_index\t= %d", v.m_dial_plan_index);
  log.Trace(" m_offhook_pwr_index = %d", v.m_offhook_pwr_index);
  log.Trace(" m_hook_speed_index\t= %d", v.m_hook_speed_index);
}

namespace {
constexpr const char* kHelpLines[] = {
    "Caller ID: ",
    "     Enable analog phone Caller ID function. ",
    "    ",
    "Echo Cancel: ",
    "     Enable acoustic echo cancel function. ",
    "    ",
    "Media Audio: ",
    "     Connected to media audio. When enabled, ",
    "     all media audio will go through analog ",
    "     phone. ",
    "    ",
    "Dialtone after disconnection: ",
    "     Play dialtone when call is disconnected. ",
    "    ",
    "Reverse Tip/Ring after disconnection: ",
    "     Reverse Tip/Ring when call is disconneced. ",
    "     It will stop answer manchine recording ",
    "     after the call is disconnected. ",
    "    ",
    "Strong Ringing Voltage: ",
    "     Higher ringing power for multiple phones. ",
    "    ",
    "LED debug display: ",
    "     Extra debugging LED display mode. ",
    "    ",
    "Dialing Plan: ",
    "     With timeout: Place call after 10 secs ",
    "     of idle time. ",
    "     Without timeout: No time out to place",
    "     the call. ",
    "     # key: Only press # key will place the ",
    "     call. ",
    "    ",
    "Off-Hook Power: ",
    "     Set off-hook power setting. ",
    "     Lower power with better noise reduction. ",
    "    ",
    "Hook Detection Speed: ",
    "     Speed to detect hook status. Slower the ",
    "     speed to avoid false off-hook detection ",
    "     during ringing. ",
};
}  // namespace

std::span<const char* const> SettingsHelpLines() { return kHelpLines; }

}  // namespace brivelton
