// SPDX-License-Identifier: MIT
#include "gui/win32/dialog.h"

#include <commctrl.h>

#include <exception>
#include <string>

namespace brivelton::win32 {

namespace {

// Predefined window classes by atom, as resource compilers write them.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kListBoxAtom = 0x0083;

class TemplateWriter {
 public:
  void Word(WORD value) { words_.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void Short(int value) { Word(static_cast<WORD>(static_cast<short>(value))); }
  void String(const std::wstring& text) {
    for (wchar_t c : text) Word(static_cast<WORD>(c));
    Word(0);
  }
  void Ordinal(WORD value) {
    Word(0xFFFF);
    Word(value);
  }
  // Every item starts on a DWORD boundary.
  void AlignDword() {
    if (words_.size() % 2) Word(0);
  }
  std::vector<WORD> Take() { return std::move(words_); }

 private:
  std::vector<WORD> words_;
};

DWORD ControlStyle(ui::ControlKind kind) {
  using K = ui::ControlKind;
  switch (kind) {
    case K::kLabel: return SS_LEFT | WS_GROUP;
    case K::kIcon: return SS_ICON;
    case K::kListBox:
      return LBS_NOSEL | LBS_NOINTEGRALHEIGHT | WS_BORDER | WS_VSCROLL | WS_TABSTOP;
    case K::kPushButton: return BS_PUSHBUTTON | WS_TABSTOP;
    case K::kDefPushButton: return BS_DEFPUSHBUTTON | WS_TABSTOP;
    case K::kCheckBox: return BS_AUTOCHECKBOX | WS_TABSTOP;
    case K::kDropDownList: return CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
    case K::kEdit: return ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
    case K::kChoiceList:
      return LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_BORDER | WS_VSCROLL | WS_TABSTOP;
  }
  return 0;
}

void WriteControlClass(TemplateWriter& out, ui::ControlKind kind) {
  using K = ui::ControlKind;
  switch (kind) {
    case K::kLabel:
    case K::kIcon: out.Ordinal(kStaticAtom); break;
    case K::kListBox:
    case K::kChoiceList: out.Ordinal(kListBoxAtom); break;
    case K::kEdit: out.Ordinal(kEditAtom); break;
    case K::kPushButton:
    case K::kDefPushButton:
    case K::kCheckBox: out.Ordinal(kButtonAtom); break;
    case K::kDropDownList: out.String(WC_COMBOBOXEXW); break;
  }
}

}  // namespace

std::wstring Widen(const char* text) {
  std::wstring wide;
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 1) return wide;
  wide.resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n);
  wide.pop_back();  // the NUL
  return wide;
}

std::vector<WORD> BuildDialogTemplate(const ui::DialogTemplate& dialog,
                                      const DialogFrame& frame) {
  TemplateWriter out;
  out.Word(1);       // dlgVer
  out.Word(0xFFFF);  // signature: extended template
  out.Dword(0);      // helpID
  out.Dword(frame.ex_style);
  out.Dword(frame.style | DS_SETFONT);
  out.Word(static_cast<WORD>(dialog.controls.size()));
  out.Short(frame.x);
  out.Short(frame.y);
  out.Short(dialog.w);
  out.Short(dialog.h);
  out.Word(0);  // no menu
  out.Word(0);  // the dialog class
  out.String(Widen(dialog.title));
  out.Word(static_cast<WORD>(dialog.font_points));
  out.Word(FW_NORMAL);
  out.Word(MAKEWORD(FALSE, DEFAULT_CHARSET));  // italic, charset
  out.String(Widen(dialog.font));

  for (const auto& control : dialog.controls) {
    out.AlignDword();
    out.Dword(0);  // helpID
    out.Dword(0);  // exStyle
    DWORD style = ControlStyle(control.kind);
    if (frame.drawn_list && control.id == frame.drawn_list)
      style |= LBS_OWNERDRAWVARIABLE | LBS_HASSTRINGS;
    out.Dword(WS_CHILD | (control.visible ? WS_VISIBLE : 0) | style);
    out.Short(control.x);
    out.Short(control.y);
    out.Short(control.w);
    out.Short(control.h);
    out.Dword(static_cast<DWORD>(control.id));
    WriteControlClass(out, control.kind);
    if (control.kind == ui::ControlKind::kIcon)
      out.Ordinal(ui::kIconAdapter);
    else
      out.String(Widen(control.text));
    out.Word(0);  // no creation data
  }
  return out.Take();
}

Dialog::Dialog(const ui::DialogTemplate& dialog, DialogFrame frame)
    : dialog_(dialog), frame_(frame) {}

INT_PTR Dialog::DoModal(HWND owner) {
  const std::vector<WORD> words = BuildDialogTemplate(dialog_, frame_);
  const INT_PTR result = DialogBoxIndirectParamW(
      GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), owner,
      &Dialog::Proc, reinterpret_cast<LPARAM>(this));
  hwnd_ = nullptr;
  return result;
}

HWND Dialog::MakeChild(const wchar_t* window_class, DWORD style, int id, const RECT& place) {
  RECT px = place;
  MapDialogRect(hwnd_, &px);
  HWND child = CreateWindowExW(0, window_class, L"", WS_CHILD | WS_VISIBLE | style, px.left,
                               px.top, px.right - px.left, px.bottom - px.top, hwnd_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
  if (child) SendMessageW(child, WM_SETFONT, SendMessageW(hwnd_, WM_GETFONT, 0, 0), FALSE);
  return child;
}

HWND Dialog::AddLabel(const ui::ControlTemplate& place, const std::string& text) {
  HWND label = MakeChild(L"STATIC", SS_LEFT, place.id,
                         {place.x, place.y, place.x + place.w, place.y + place.h});
  if (label) SetWindowTextW(label, Widen(text.c_str()).c_str());
  return label;
}

bool Dialog::OnCommand(int id, int /*code*/) {
  if (id != IDOK && id != IDCANCEL) return false;
  End(id);
  return true;
}

void Dialog::CenterOverOwner() {
  RECT area;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT around = area;
  HWND owner = GetWindow(hwnd_, GW_OWNER);
  if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &around);
  RECT self;
  GetWindowRect(hwnd_, &self);
  const int w = self.right - self.left;
  const int h = self.bottom - self.top;
  int x = (around.left + around.right - w) / 2;
  int y = (around.top + around.bottom - h) / 2;
  // Keep the whole dialog on the work area.
  if (x + w > area.right) x = area.right - w;
  if (y + h > area.bottom) y = area.bottom - h;
  if (x < area.left) x = area.left;
  if (y < area.top) y = area.top;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK Dialog::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  // Nothing may unwind through the system's code: the message is given up
  // and the window stays.
  try {
    return Handle(hwnd, msg, wp, lp);
  } catch (const std::exception& e) {
    OutputDebugStringA((std::string("brivelton-utility: message stopped: ") + e.what() + "\n").c_str());
  } catch (...) {
    OutputDebugStringA("brivelton-utility: message stopped\n");
  }
  return FALSE;
}

INT_PTR Dialog::Handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Dialog*>(lp);
    SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    self->hwnd_ = hwnd;
    if (self->frame_.x == 0 && self->frame_.y == 0) self->CenterOverOwner();
    return self->OnInitDialog();
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self) return FALSE;
  if (msg == WM_COMMAND) return self->OnCommand(LOWORD(wp), HIWORD(wp)) ? TRUE : FALSE;
  bool handled = false;
  const INT_PTR result = self->OnMessage(msg, wp, lp, handled);
  return handled ? result : FALSE;
}

}  // namespace brivelton::win32
