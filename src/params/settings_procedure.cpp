// The Setting button: read the ten parameters, let the user edit them, write
// back what changed.
#include "app/main_dialog.h"
#include "app/message_log.h"
#include "params/settings_mapping.h"

namespace brivelton {

namespace {
constexpr int kLastVersionWithoutSettings = 0x1FF;

void TraceUnknownRead(int op, uint32_t raw) {
  const int value = static_cast<int>(raw);
  if (op == kHookSpeedOp) Trace(" HookCount read unknown %d", value);
  if (op == kOffHookPowerOp) Trace(" OffHookPwr read unknown %d", value);
  if (op == kDialPlanOp) Trace(" DialPlan read unknown %d", value);
}
}  // namespace

void MainDialog::OnSetting() {
  if (link_.DeviceVersion <= kLastVersionWithoutSettings) {
    LogLine(" ");
    LogLine(" Device version = %03X", link_.DeviceVersion);
    LogLine(" Setting is not supported in this version.");
    LogLine(" Please update the firmware first.");
    LogLine(" ");
    return;
  }
  if (!ReopenFoundPort()) {
    LogLine(" ");
    LogLine(" Can't initial serial port. ");
    LogLine(" Please check hardware connection and");
    LogLine(" try again.");
    LogLine(" ");
    return;
  }

  SettingsValues read;
  for (int op : kParamReadOrder) {
    const uint32_t raw = ReadParameter(op);
    const std::optional<uint32_t> value =
        raw == kParamError ? std::nullopt : std::optional<uint32_t>(raw);
    bool unknown = false;
    read.*ParamMember(op) = MemberFromRaw(op, value, &unknown);
    if (unknown) TraceUnknownRead(op, raw);
  }

  SettingsValues chosen = read;
  if (!view_.EditSettings(chosen)) {
    LogLine(" Set parameters cancelled");
    return;
  }

  for (const PlannedWrite& write : PlanWrites(read, chosen)) {
    if (!write.value) {
      Trace(" Unknown parameter for Off-HOOK power selection");
      continue;
    }
    if (WriteParameter(write.op, *write.value) == kParamError) {
      LogLine(" ERROR !!!");
      LogLine(" Set parameters failed");
      return;
    }
  }

  if (chosen.m_a2dp != read.m_a2dp) {
    // A failed write must not end in the success line.
    if (WriteParameter(kMediaAudioOp, static_cast<uint32_t>(chosen.m_a2dp)) == kParamError) {
      LogLine(" ERROR !!!");
      LogLine(" Set parameters failed");
      return;
    }
    // Empty lines go through "%s": an empty format draws a warning on Windows.
    LogLine("%s", "");
    LogLine(" Change Media Audio setting.");
    LogLine(" Need to reset the device to take effect.");
    LogLine("%s", "");
  }
  LogLine(" Set parameters successfully");
}

}  // namespace brivelton
