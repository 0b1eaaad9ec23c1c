// SPDX-License-Identifier: MIT
#pragma once
// A small modal dialog layer over the Win32 dialog manager. Templates are
// built in memory from the shared dialog data, so the windows and the Qt front
// end draw from one source.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "resources/dialog_templates.h"

namespace brivelton::win32 {

// The dialog styles the templates need besides their controls.
struct DialogFrame {
  DWORD style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  DWORD ex_style = 0;
  // Place in dialog units relative to the owner's client area; (0, 0) means
  // centred over the owner (over the screen's work area without one).
  int x = 0;
  int y = 0;
  // A list box the dialog draws itself, line by line (0: none).
  int drawn_list = 0;
};

// DLGTEMPLATEEX words for `dialog`; control styles follow each control kind.
std::vector<WORD> BuildDialogTemplate(const ui::DialogTemplate& dialog,
                                      const DialogFrame& frame);

std::wstring Widen(const char* text);

class Dialog {
 public:
  Dialog(const ui::DialogTemplate& dialog, DialogFrame frame);
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog modally; the value given to End, or -1 when it could
  // not be created.
  INT_PTR DoModal(HWND owner);
  HWND hwnd() const { return hwnd_; }

 protected:
  // Return TRUE to let the dialog manager set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  // A command from a control or the keyboard; true when handled. By default
  // OK and Cancel end the dialog with their id.
  virtual bool OnCommand(int id, int code);
  // Any other message; set `handled` to answer it.
  virtual INT_PTR OnMessage(UINT /*msg*/, WPARAM /*wp*/, LPARAM /*lp*/,
                            bool& handled) {
    handled = false;
    return 0;
  }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  // A child control beside the template's, at `place` in dialog units, in
  // the dialog's font.
  HWND MakeChild(const wchar_t* window_class, DWORD style, int id, const RECT& place);
  // A label beside the template's controls, at its place.
  HWND AddLabel(const ui::ControlTemplate& place, const std::string& text);
  void End(INT_PTR result) { EndDialog(hwnd_, result); }

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static INT_PTR Handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void CenterOverOwner();

  const ui::DialogTemplate& dialog_;
  DialogFrame frame_;
  HWND hwnd_ = nullptr;
};

}  // namespace brivelton::win32
