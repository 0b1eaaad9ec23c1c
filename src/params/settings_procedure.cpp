// SPDX-License-Identifier: MIT
// The settings procedure: read the ten parameters, let the user edit them,
// write back what changed.
#include "params/parameters.h"
#include "params/settings_mapping.h"

namespace brivelton {

SettingsValues Parameters::ReadAll() {
  RawParams raws;
  for (int op : kParamReadOrder) {
    raws[op - 1] = ReadParameter(op);
    if (!UnknownRaw(op, raws[op - 1])) continue;
    const int value = static_cast<int>(raws[op - 1].value_or(kParamError));
    if (op == kHookSpeedOp) log_.Trace(" HookCount read unknown %d", value);
    if (op == kOffHookPowerOp) log_.Trace(" OffHookPwr read unknown %d", value);
    if (op == kDialPlanOp) log_.Trace(" DialPlan read unknown %d", value);
  }
  return MapReadValues(raws);
}

bool Parameters::Write(int op, uint32_t value) {
  if (WriteParameter(op, value)) return true;
  log_.LogLine(" ERROR !!!");
  log_.LogLine(" Set parameters failed");
  return false;
}

SettingsOutcome Parameters::RunSettings(const EditSettings& edit) {
  // None read yet is shown as the window always showed it, "000".
  const int version = facts_.DeviceVersion.value_or(0);
  if (version < kFirstVersionWithSettings) {
    log_.LogLine(" ");
    log_.LogLine(" Device version = %03X", version);
    log_.LogLine(" Setting is not supported in this version.");
    log_.LogLine(" Please update the firmware first.");
    log_.LogLine(" ");
    return SettingsOutcome::kNotSupported;
  }
  if (!link_.ReopenFoundPort()) {
    log_.LogLine(" ");
    log_.LogLine(" Can't initial serial port. ");
    log_.LogLine(" Please check hardware connection and");
    log_.LogLine(" try again.");
    log_.LogLine(" ");
    return SettingsOutcome::kNoPort;
  }

  const SettingsValues read = ReadAll();
  SettingsValues chosen = read;
  if (!edit(chosen)) {
    log_.LogLine(" Set parameters cancelled");
    return SettingsOutcome::kCancelled;
  }

  for (const PlannedWrite& write : PlanWrites(read, chosen)) {
    if (!write.value) {
      log_.Trace(" Unknown parameter for Off-HOOK power selection");
      continue;
    }
    if (!Write(write.op, *write.value)) return SettingsOutcome::kFailed;
  }

  if (chosen.m_a2dp != read.m_a2dp) {
    // A failed write must not end in the success line.
    if (!Write(kMediaAudioOp, static_cast<uint32_t>(chosen.m_a2dp)))
      return SettingsOutcome::kFailed;
    // Empty lines go through "%s": an empty format draws a warning on Windows.
    log_.LogLine("%s", "");
    log_.LogLine(" Change Media Audio setting.");
    log_.LogLine(" Need to reset the device to take effect.");
    log_.LogLine("%s", "");
  }
  log_.LogLine(" Set parameters successfully");
  return SettingsOutcome::kWritten;
}

}  // namespace brivelton
