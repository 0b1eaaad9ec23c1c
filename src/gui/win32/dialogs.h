// SPDX-License-Identifier: MIT
#pragma once
// The modal dialogs the main window opens.
#include <vector>

#include "gui/win32/dialog.h"
#include "log/message_log.h"
#include "params/settings_values.h"
#include "resources/firmware_image.h"
#include "update/address_choice.h"

namespace brivelton::win32 {

// `image`: the firmware an update writes, named under the version.
class AboutDialog : public Dialog {
 public:
  explicit AboutDialog(const FirmwareImage& image = BuiltInImage());

 protected:
  BOOL OnInitDialog() override;

 private:
  const FirmwareImage& image_;
};

// The warning before an update: OK (1046) confirms, Cancel is the default.
// A placeholder `image` is said to be one.
class UpdateConfirmDialog : public Dialog {
 public:
  explicit UpdateConfirmDialog(const FirmwareImage& image = BuiltInImage());

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;

 private:
  const FirmwareImage& image_;
};

class UpdateResultDialog : public Dialog {
 public:
  UpdateResultDialog();
  bool m_success = false;
  // On the screen, what the dialog must leave in view (the owner's bar and
  // notice); empty: centred over the owner.
  RECT keep_in_view{};

 protected:
  BOOL OnInitDialog() override;
};

class HelpDialog : public Dialog {
 public:
  HelpDialog();

 protected:
  BOOL OnInitDialog() override;
};

// The parameter dialog. `values` is shown at start and receives the user's
// choices only when the dialog ends with OK.
class SettingsDialog : public Dialog {
 public:
  // `log` takes the dialog's trace lines.
  SettingsDialog(SettingsValues& values, MessageLog& log);

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;

 private:
  void PutControls(const SettingsValues& values);
  SettingsValues ReadControls() const;

  SettingsValues& values_;
  MessageLog& log_;
};

// Asked before an update erases a page that has lost its address: a saved
// address picked or 12 digits typed (OK), "Continue without", or Cancel.
class AddressDialog : public Dialog {
 public:
  explicit AddressDialog(const std::vector<JournalEntry>& candidates);
  // What the user answered; Cancel when the dialog could not be shown.
  const AddressReply& reply() const { return reply_; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;

 private:
  const std::vector<JournalEntry>& candidates_;
  AddressReply reply_{AddressAnswer::kCancel, {}};
};

}  // namespace brivelton::win32
