// SPDX-License-Identifier: MIT
#include "gui/qt/dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "app/address_form.h"
#include "app/window_texts.h"
#include "log/message_log.h"
#include "params/settings_data.h"

namespace brivelton::qt {

namespace {

// Title bar with a close box, as a Windows modal dialog frame.
constexpr Qt::WindowFlags kDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint |
                                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                         Qt::WindowCloseButtonHint;

}  // namespace

AboutDialog::AboutDialog(QWidget* parent, const FirmwareImage& image)
    : TemplateDialog(ui::AboutDialogTemplate(), parent, kDialogFlags) {
  qobject_cast<QLabel*>(AddControl(ui::AboutFirmwarePlace()))
      ->setText(QString::fromStdString(AboutFirmwareLine(image)));
}

UpdateConfirmDialog::UpdateConfirmDialog(QWidget* parent, const FirmwareImage& image)
    : TemplateDialog(ui::UpdateConfirmDialogTemplate(), parent, kDialogFlags) {
  if (const std::string note = PlaceholderWarning(image); !note.empty())
    qobject_cast<QLabel*>(AddControl(ui::PlaceholderWarningPlace()))
        ->setText(QString::fromStdString(note));
  // A focused button takes Enter: start on Cancel, not on OK, the first one.
  ControlAs<QPushButton>(ui::kIdCancel)->setFocus();
}

void UpdateConfirmDialog::OnCommand(int id) {
  if (id == ui::kIdUpdateOk) accept();
}

UpdateResultDialog::UpdateResultDialog(bool success, QWidget* parent)
    : TemplateDialog(ui::UpdateResultDialogTemplate(), parent, kDialogFlags) {
  ControlAs<QLabel>(ui::kIdResultText)
      ->setText(QString::fromUtf8(success ? ui::UpdateSucceededText()
                                          : ui::UpdateFailedText()));
}

SettingsDialog::SettingsDialog(const SettingsValues& values, MessageLog& log, QWidget* parent)
    : TemplateDialog(ui::SettingsDialogTemplate(), parent,
                     Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      values_(values),
      log_(log) {
  PutControls(values_);
}

void SettingsDialog::PutControls(const SettingsValues& values) {
  SettingsValues v = values;
  for (int id : kCheckBoxIds)
    ControlAs<QCheckBox>(id)->setChecked(*SettingsMember(v, id) != 0);
  for (int id : kDropDownIds) {
    auto* combo = ControlAs<QComboBox>(id);
    const int index = *SettingsMember(v, id);
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
  }
}

SettingsValues SettingsDialog::ReadControls() const {
  SettingsValues v;
  for (int id : kCheckBoxIds)
    *SettingsMember(v, id) = ControlAs<QCheckBox>(id)->isChecked() ? 1 : 0;
  for (int id : kDropDownIds) *SettingsMember(v, id) = ControlAs<QComboBox>(id)->currentIndex();
  return v;
}

void SettingsDialog::OnOk() {
  values_ = ReadControls();
  TraceSettingsOnOk(values_, log_);
  accept();
}

void SettingsDialog::OnCommand(int id) {
  if (id == ui::kIdSetDefault) {
    log_.Trace(" Set default");
    PutControls(DefaultSettings());
  } else if (id == ui::kIdSettingsHelp) {
    HelpDialog help(this);
    help.exec();
  }
}

HelpDialog::HelpDialog(QWidget* owner)
    : TemplateDialog(ui::HelpDialogTemplate(), owner, kDialogFlags) {
  auto* list = ControlAs<QListWidget>(ui::kIdHelpList);
  for (const char* line : SettingsHelpLines()) list->addItem(QString::fromUtf8(line));
  // Its template places it relative to the owner's client area.
  if (owner)
    move(owner->mapToGlobal(QPoint(0, 0)) + QPoint(DuToPxX(ui::kHelpOffsetX, units()),
                                                   DuToPxY(ui::kHelpOffsetY, units())));
}

AddressDialog::AddressDialog(const std::vector<JournalEntry>& candidates, QWidget* parent)
    : TemplateDialog(ui::AddressDialogTemplate(), parent, kDialogFlags), candidates_(candidates) {
  auto* list = ControlAs<QListWidget>(ui::kIdAddressList);
  auto* edit = ControlAs<QLineEdit>(ui::kIdAddressEdit);
  for (const JournalEntry& entry : candidates_)
    list->addItem(QString::fromStdString(AddressCandidateLine(entry)));
  // Room for the digits with separators and a stray space, not for a page.
  edit->setMaxLength(40);
  connect(list, &QListWidget::currentRowChanged, this, [this, edit](int row) {
    if (row < 0 || static_cast<size_t>(row) >= candidates_.size()) return;
    edit->setText(QString::fromStdString(AddressFieldText(candidates_[static_cast<size_t>(row)])));
    ControlAs<QLabel>(ui::kIdAddressError)->clear();
  });
  connect(list, &QListWidget::itemDoubleClicked, this, [this] { OnOk(); });
  if (candidates_.empty())
    edit->setFocus();
  else
    list->setFocus();
}

void AddressDialog::OnOk() {
  auto* edit = ControlAs<QLineEdit>(ui::kIdAddressEdit);
  const auto accepted = AcceptTypedAddress(edit->text().toStdString());
  if (accepted) {
    reply_ = *accepted;
    accept();
    return;
  }
  ControlAs<QLabel>(ui::kIdAddressError)->setText(QString::fromStdString(accepted.error().text()));
  edit->setFocus();
  edit->selectAll();
}

void AddressDialog::OnCommand(int id) {
  if (id != ui::kIdContinueWithout) return;
  reply_ = {AddressAnswer::kContinueWithout, {}};
  accept();
}

}  // namespace brivelton::qt
