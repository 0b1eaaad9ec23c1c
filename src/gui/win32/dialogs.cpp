// SPDX-License-Identifier: MIT
#include "gui/win32/dialogs.h"

#include <commctrl.h>

#include <string>

#include "app/address_form.h"
#include "app/conversation.h"
#include "app/window_texts.h"
#include "log/message_log.h"
#include "params/settings_data.h"

namespace brivelton::win32 {

namespace {

constexpr DWORD kModalStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;

}  // namespace

AboutDialog::AboutDialog(const FirmwareImage& image)
    : Dialog(ui::AboutDialogTemplate(), {}), image_(image) {}

BOOL AboutDialog::OnInitDialog() {
  AddLabel(ui::AboutFirmwarePlace(), AboutFirmwareLine(image_));
  return TRUE;
}

UpdateConfirmDialog::UpdateConfirmDialog(const FirmwareImage& image)
    : Dialog(ui::UpdateConfirmDialogTemplate(), {}), image_(image) {}

BOOL UpdateConfirmDialog::OnInitDialog() {
  if (const std::string note = PlaceholderWarning(image_); !note.empty())
    AddLabel(ui::PlaceholderWarningPlace(), note);
  // The dialog manager would focus the first tab stop, OK, and Enter would
  // then press it; Enter is meant to cancel an update.
  SetFocus(Item(ui::kIdCancel));
  return FALSE;
}

bool UpdateConfirmDialog::OnCommand(int id, int code) {
  if (id == ui::kIdUpdateOk) {
    End(IDOK);
    return true;
  }
  return Dialog::OnCommand(id, code);
}

UpdateResultDialog::UpdateResultDialog()
    : Dialog(ui::UpdateResultDialogTemplate(), {}) {}

BOOL UpdateResultDialog::OnInitDialog() {
  SetDlgItemTextA(hwnd(), ui::kIdResultText,
                  m_success ? ui::UpdateSucceededText() : ui::UpdateFailedText());
  HWND owner = GetWindow(hwnd(), GW_OWNER);
  if (owner && !IsRectEmpty(&keep_in_view)) {
    RECT self, around, area;
    GetWindowRect(hwnd(), &self);
    GetWindowRect(owner, &around);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const ScreenRect place = PlaceClearOf(
        {around.left, around.top, around.right, around.bottom},
        {keep_in_view.left, keep_in_view.top, keep_in_view.right, keep_in_view.bottom},
        self.right - self.left, self.bottom - self.top,
        {area.left, area.top, area.right, area.bottom});
    SetWindowPos(hwnd(), nullptr, place.left, place.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return TRUE;
}

HelpDialog::HelpDialog()
    : Dialog(ui::HelpDialogTemplate(),
             {kModalStyle, 0, ui::kHelpOffsetX, ui::kHelpOffsetY}) {}

BOOL HelpDialog::OnInitDialog() {
  HWND list = Item(ui::kIdHelpList);
  for (const char* line : SettingsHelpLines())
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
  return TRUE;
}

SettingsDialog::SettingsDialog(SettingsValues& values, MessageLog& log)
    : Dialog(ui::SettingsDialogTemplate(), {DS_MODALFRAME | WS_POPUP | WS_CAPTION}),
      values_(values),
      log_(log) {}

BOOL SettingsDialog::OnInitDialog() {
  for (int id : kDropDownIds) {
    const ui::ControlTemplate* control = ui::FindControl(ui::SettingsDialogTemplate(), id);
    if (!control) continue;
    for (const char* text : control->items) {
      std::wstring wide = Widen(text);
      COMBOBOXEXITEMW item{};
      item.mask = CBEIF_TEXT;
      item.iItem = -1;  // append: the lists keep the template's order
      item.pszText = wide.data();
      SendMessageW(Item(id), CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
  }
  PutControls(values_);
  return TRUE;
}

void SettingsDialog::PutControls(const SettingsValues& values) {
  SettingsValues v = values;
  for (int id : kCheckBoxIds)
    CheckDlgButton(hwnd(), id, *SettingsMember(v, id) ? BST_CHECKED : BST_UNCHECKED);
  for (int id : kDropDownIds)
    SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(*SettingsMember(v, id)), 0);
}

SettingsValues SettingsDialog::ReadControls() const {
  SettingsValues v;
  for (int id : kCheckBoxIds)
    *SettingsMember(v, id) = IsDlgButtonChecked(hwnd(), id) == BST_CHECKED ? 1 : 0;
  for (int id : kDropDownIds) {
    const LRESULT choice = SendMessageW(Item(id), CB_GETCURSEL, 0, 0);
    *SettingsMember(v, id) = choice == CB_ERR ? -1 : static_cast<int32_t>(choice);
  }
  return v;
}

bool SettingsDialog::OnCommand(int id, int code) {
  switch (id) {
    case IDOK:
      values_ = ReadControls();
      TraceSettingsOnOk(values_, log_);
      End(IDOK);
      return true;
    case ui::kIdSetDefault:
      if (code != BN_CLICKED) return false;
      log_.Trace(" Set default");
      PutControls(DefaultSettings());
      return true;
    case ui::kIdSettingsHelp: {
      if (code != BN_CLICKED) return false;
      HelpDialog help;
      help.DoModal(hwnd());
      return true;
    }
    default:
      return Dialog::OnCommand(id, code);
  }
}

AddressDialog::AddressDialog(const std::vector<JournalEntry>& candidates)
    : Dialog(ui::AddressDialogTemplate(), {DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU}),
      candidates_(candidates) {}

BOOL AddressDialog::OnInitDialog() {
  HWND list = Item(ui::kIdAddressList);
  for (const JournalEntry& entry : candidates_)
    SendMessageW(list, LB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(Widen(AddressCandidateLine(entry).c_str()).c_str()));
  // Room for the digits with separators and a stray space, not for a page.
  SendMessageW(Item(ui::kIdAddressEdit), EM_LIMITTEXT, 40, 0);
  SetFocus(Item(candidates_.empty() ? ui::kIdAddressEdit : ui::kIdAddressList));
  return FALSE;
}

bool AddressDialog::OnCommand(int id, int code) {
  switch (id) {
    case ui::kIdAddressList: {
      if (code != LBN_SELCHANGE && code != LBN_DBLCLK) return false;
      const LRESULT pick = SendMessageW(Item(id), LB_GETCURSEL, 0, 0);
      if (pick < 0 || static_cast<size_t>(pick) >= candidates_.size()) return true;
      SetDlgItemTextW(hwnd(), ui::kIdAddressEdit,
                      Widen(AddressFieldText(candidates_[static_cast<size_t>(pick)]).c_str()).c_str());
      SetDlgItemTextW(hwnd(), ui::kIdAddressError, L"");
      if (code == LBN_DBLCLK) return OnCommand(IDOK, BN_CLICKED);
      return true;
    }
    case IDOK: {
      wchar_t wide[64] = {};
      GetDlgItemTextW(hwnd(), ui::kIdAddressEdit, wide, 64);
      std::string typed;
      for (const wchar_t* c = wide; *c; ++c) typed += *c < 0x80 ? static_cast<char>(*c) : '?';
      const auto accepted = AcceptTypedAddress(typed);
      if (accepted) {
        reply_ = *accepted;
        End(IDOK);
        return true;
      }
      SetDlgItemTextW(hwnd(), ui::kIdAddressError, Widen(accepted.error().text().c_str()).c_str());
      MessageBeep(MB_ICONWARNING);
      HWND edit = Item(ui::kIdAddressEdit);
      SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
      SendMessageW(edit, EM_SETSEL, 0, -1);
      return true;
    }
    case ui::kIdContinueWithout:
      if (code != BN_CLICKED) return false;
      reply_ = {AddressAnswer::kContinueWithout, {}};
      End(IDOK);
      return true;
    case IDCANCEL:
      reply_ = {AddressAnswer::kCancel, {}};
      End(IDCANCEL);
      return true;
    default:
      return Dialog::OnCommand(id, code);
  }
}

}  // namespace brivelton::win32
