// SPDX-License-Identifier: MIT
#include "app/main_dialog.h"

#include <utility>

namespace brivelton {

MainDialog::MainDialog(MainView& view, ProtocolStack& stack) : view_(view), stack_(stack) {
  UpdateOptions& options = stack_.updater.options();
  options.progress = [this](UpdateStage stage, int done, int total) {
    view_.UpdateProgress(stage, done, total);
  };
  options.flash_span = [this](bool begins, bool verified) {
    if (begins)
      view_.FlashBegins();
    else
      view_.FlashEnds(verified);
  };
  options.attempts = [this](const AttemptEvent& event) { view_.ReportAttempt(event); };
  options.address_prompt = {
      [this](const std::vector<JournalEntry>& candidates) { return view_.AskAddress(candidates); },
      [this](const std::string& address) { return view_.HowToGiveAddress(address); }};
}

bool MainDialog::OnCheckDevice() {
  if (!stack_.discovery.FindDevice()) {
    view_.ShowButton(kIdUpdateFirmware, false);
    view_.ShowButton(kIdSetting, false);
    stack_.log.LogLine(" ");
    stack_.log.LogLine(" Please check device connection.");
    stack_.log.LogLine(" ");
    return false;
  }
  view_.ShowButton(kIdUpdateFirmware, true);
  view_.ShowButton(kIdSetting, true);
  stack_.discovery.IdentifyDevice();
  return true;
}

UpdateOutcome MainDialog::OnUpdateFirmware() {
  if (!view_.ConfirmUpdate()) {
    stack_.log.LogLine(" Firmware update cancelled");
    return UpdateOutcome::kCancelled;
  }
  const UpdateOutcome outcome = stack_.updater.RunUpdate();
  // Cancelled in the address dialog: the user knows, and nothing changed.
  if (outcome != UpdateOutcome::kCancelled) view_.ShowUpdateResult(outcome == UpdateOutcome::kSucceeded);
  return outcome;
}

void MainDialog::OnButton(int id) {
  switch (id) {
    case kIdCheckDevice: OnCheckDevice(); break;
    case kIdUpdateFirmware: OnUpdateFirmware(); break;
    case kIdSetting: OnSetting(); break;
    default: break;
  }
}

SettingsOutcome MainDialog::OnSetting() {
  return stack_.params.RunSettings(
      [this](SettingsValues& values) { return view_.EditSettings(values); });
}

}  // namespace brivelton
