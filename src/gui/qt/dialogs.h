// SPDX-License-Identifier: MIT
#pragma once
// The utility's dialogs other than the main window.
#include <vector>

#include "gui/qt/template_dialog.h"
#include "log/message_log.h"
#include "params/settings_values.h"
#include "resources/firmware_image.h"
#include "update/address_choice.h"

namespace brivelton::qt {

class AboutDialog : public TemplateDialog {
  Q_OBJECT
 public:
  // `image`: the firmware an update writes, named under the version.
  explicit AboutDialog(QWidget* parent, const FirmwareImage& image = BuiltInImage());
};

// The update warning: OK (1046) accepts; Cancel is the default, and takes the
// focus, so Enter cancels. A placeholder `image` is said to be one.
class UpdateConfirmDialog : public TemplateDialog {
  Q_OBJECT
 public:
  explicit UpdateConfirmDialog(QWidget* parent, const FirmwareImage& image = BuiltInImage());

 protected:
  void OnCommand(int id) override;
};

class UpdateResultDialog : public TemplateDialog {
  Q_OBJECT
 public:
  UpdateResultDialog(bool success, QWidget* parent);
};

class SettingsDialog : public TemplateDialog {
  Q_OBJECT
 public:
  // `log` takes the dialog's trace lines.
  SettingsDialog(const SettingsValues& values, MessageLog& log, QWidget* parent);
  // The members: as given, or as the controls stood at OK.
  const SettingsValues& values() const { return values_; }

 protected:
  void OnOk() override;
  void OnCommand(int id) override;

 private:
  void PutControls(const SettingsValues& values);
  SettingsValues ReadControls() const;

  SettingsValues values_;
  MessageLog& log_;
};

// Read-only explanations of the parameters, opened beside the settings.
class HelpDialog : public TemplateDialog {
  Q_OBJECT
 public:
  explicit HelpDialog(QWidget* owner);
};

// Asked before an update erases a page that has lost its address: a saved
// address picked or 12 digits typed (OK), "Continue without", or Cancel.
class AddressDialog : public TemplateDialog {
  Q_OBJECT
 public:
  AddressDialog(const std::vector<JournalEntry>& candidates, QWidget* parent);
  // What the user answered; Cancel until then.
  const AddressReply& reply() const { return reply_; }

 protected:
  void OnOk() override;
  void OnCommand(int id) override;

 private:
  const std::vector<JournalEntry>& candidates_;
  AddressReply reply_{AddressAnswer::kCancel, {}};
};

}  // namespace brivelton::qt
