// SPDX-License-Identifier: MIT
// Works brivelton-utility.exe's window from another process, as a user would:
// clicks buttons, answers the modal dialogs, reads the message list back, and
// checks every dialog against the shared templates (ids, classes, texts,
// visibility, places in dialog units). It prints a transcript on stdout that
// the test script compares with the expected one; a check that fails prints
// a "FAIL" line, so it shows in the comparison as well.
//
// usage: brivelton-window-driver SHOT_DIR [address|attempts]
// For a screenshot it creates SHOT_DIR\<name>.req and waits until the script
// has taken the picture and removed the file.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "app/address_form.h"
#include "app/log_rows.h"
#include "gui/win32/window_messages.h"
#include "params/settings_data.h"
#include "platform/state_store.h"
#include "resources/dialog_templates.h"
#include "update/identity_journal.h"

namespace ui = brivelton::ui;

namespace {

constexpr DWORD kShortWait = 30'000;
constexpr DWORD kLongWait = 600'000;  // a whole firmware update

std::wstring g_shot_dir;

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int g_failures = 0;

void Fail(const char* format, ...) {
  ++g_failures;
  va_list args;
  va_start(args, format);
  std::printf("FAIL: ");
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

#define CHECK(cond, ...)          \
  do {                            \
    if (!(cond)) Fail(__VA_ARGS__); \
  } while (0)

std::wstring Widen(const char* text) {
  std::wstring wide;
  for (const char* p = text; *p; ++p) wide.push_back(static_cast<unsigned char>(*p));
  return wide;
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return narrow;
}

// A log line as it must read, every space kept: [text], "\n" written out.
std::string Shown(const std::string& text) {
  std::string shown = "[";
  for (char c : text) {
    if (c == '\n') shown += "\\n";
    else if (c == '\t') shown += "\\t";
    else if (c == '\\') shown += "\\\\";
    else shown.push_back(c);
  }
  return shown + "]";
}

std::wstring WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kShortWait, &length))
    return L"<no answer>";
  std::wstring text(length + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                      SMTO_NORMAL, kShortWait, &got);
  text.resize(got);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// --- Finding windows -----------------------------------------------------------

struct DialogQuery {
  std::wstring title;
  HWND owner;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
  auto* query = reinterpret_cast<DialogQuery*>(param);
  if (!IsWindowVisible(window) || ClassOf(window) != L"#32770") return TRUE;
  if (query->owner && GetWindow(window, GW_OWNER) != query->owner) return TRUE;
  wchar_t title[128] = {};
  GetWindowTextW(window, title, 128);
  if (query->title != title) return TRUE;
  query->found = window;
  return FALSE;
}

// The visible dialog titled `title` (owned by `owner` when given).
HWND WaitForDialog(const char* title, HWND owner, DWORD wait_ms) {
  DialogQuery query{Widen(title), owner, nullptr};
  for (DWORD waited = 0; waited <= wait_ms; waited += 50) {
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&query));
    if (query.found) return query.found;
    Sleep(50);
  }
  return nullptr;
}

bool WaitGone(HWND window, DWORD wait_ms) {
  for (DWORD waited = 0; waited <= wait_ms; waited += 50) {
    if (!IsWindow(window)) return true;
    Sleep(50);
  }
  return false;
}

// Back in a message loop: the button handler has returned, or it waits in a
// modal dialog.
bool WaitIdle(HWND window, DWORD wait_ms) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, wait_ms, &result) != 0;
}

void Click(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// The main window runs a button's conversation on a thread of its own and
// says whether one is running.
constexpr UINT kQueryBusy = WM_APP + 3;

bool Busy(HWND main) {
  DWORD_PTR busy = 0;
  if (!SendMessageTimeoutW(main, kQueryBusy, 0, 0, SMTO_NORMAL, kShortWait, &busy)) return true;
  return busy != 0;
}

// Back in a message loop with no conversation running.
bool WaitConversationEnd(HWND main, DWORD wait_ms) {
  for (DWORD waited = 0; waited <= wait_ms; waited += 50) {
    if (!Busy(main)) return true;
    Sleep(50);
  }
  return false;
}

// A click whose handler opens no dialog: returns when the handler has.
bool ClickAndWait(HWND dialog, int id, DWORD wait_ms) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(GetDlgItem(dialog, id), BM_CLICK, 0, 0, SMTO_NORMAL, wait_ms,
                             &result) != 0;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

void PressKey(HWND window, WPARAM key) {
  PostMessageW(window, WM_KEYDOWN, key, 1);
  PostMessageW(window, WM_KEYUP, key, 0xC0000001);
}

// Asks the script for a picture of the screen rectangle around `window` (and
// `beside`, when given).
void Screenshot(const char* name, HWND window, HWND beside = nullptr) {
  RECT r, other;
  GetWindowRect(window, &r);
  if (beside && GetWindowRect(beside, &other)) UnionRect(&r, &r, &other);
  char place[64];
  const int n = std::snprintf(place, sizeof place, "%ldx%ld+%ld+%ld\n", r.right - r.left,
                              r.bottom - r.top, r.left, r.top);
  std::wstring request = g_shot_dir + L"\\" + Widen(name) + L".req";
  HANDLE file = CreateFileW(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (file == INVALID_HANDLE_VALUE || !WriteFile(file, place, n, &written, nullptr)) {
    Fail("cannot ask for screenshot %s", name);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return;
  }
  CloseHandle(file);
  for (DWORD waited = 0; waited <= kShortWait; waited += 100) {
    if (GetFileAttributesW(request.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    Sleep(100);
  }
  Fail("screenshot %s was not taken", name);
}

// --- Reading another process's controls ------------------------------------------

// Memory in the window's process, for messages that carry pointers the
// system does not copy across processes (the extended combo box's).
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_)
      base_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (base_) VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  bool ok() const { return base_ != nullptr; }
  char* at(size_t offset) const { return static_cast<char*>(base_) + offset; }
  bool Write(size_t offset, const void* data, size_t n) {
    return offset + n <= size_ && WriteProcessMemory(process_, at(offset), data, n, nullptr);
  }
  bool Read(size_t offset, void* data, size_t n) {
    return offset + n <= size_ && ReadProcessMemory(process_, at(offset), data, n, nullptr);
  }

 private:
  size_t size_;
  HANDLE process_ = nullptr;
  void* base_ = nullptr;
};

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> items;
  RemoteBuffer remote(combo, 4096);
  if (!remote.ok()) return {"<cannot reach the process>"};
  constexpr size_t kText = 256;
  for (int i = 0; i < 32; ++i) {
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT;
    item.iItem = i;
    item.pszText = reinterpret_cast<wchar_t*>(remote.at(kText));
    item.cchTextMax = 256;
    const wchar_t empty = 0;
    remote.Write(0, &item, sizeof item);
    remote.Write(kText, &empty, sizeof empty);
    DWORD_PTR ok = 0;
    SendMessageTimeoutW(combo, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.at(0)),
                        SMTO_NORMAL, kShortWait, &ok);
    if (!ok) break;
    wchar_t text[256] = {};
    remote.Read(kText, text, sizeof text - sizeof(wchar_t));
    items.push_back(Narrow(text));
  }
  return items;
}

std::vector<std::string> ListLines(HWND list, int from) {
  std::vector<std::string> lines;
  const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
  for (int i = from; i < count; ++i) {
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
    std::wstring text(length > 0 ? length + 1 : 1, L'\0');
    const LRESULT got = SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? got : 0);
    lines.push_back(Narrow(text));
  }
  return lines;
}

// --- Dialog units --------------------------------------------------------------

struct BaseUnits {
  int x, y;
};

// What the dialog manager derives from a template's font: average width of
// the letters and the font's height.
BaseUnits MeasureFont(const ui::DialogTemplate& dialog) {
  HDC dc = GetDC(nullptr);
  HFONT font = CreateFontW(-MulDiv(dialog.font_points, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0,
                           0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                           Widen(dialog.font).c_str());
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  SIZE size{};
  GetTextExtentPoint32W(dc, kLetters, 52, &size);
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
  return {(size.cx / 26 + 1) / 2, static_cast<int>(metrics.tmHeight)};
}

RECT ClientRectOf(HWND control, HWND dialog) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

const wchar_t* ExpectedClass(ui::ControlKind kind) {
  using K = ui::ControlKind;
  switch (kind) {
    case K::kLabel:
    case K::kIcon: return L"Static";
    case K::kListBox:
    case K::kChoiceList: return L"ListBox";
    case K::kEdit: return L"Edit";
    case K::kPushButton:
    case K::kDefPushButton:
    case K::kCheckBox: return L"Button";
    case K::kDropDownList: return L"ComboBoxEx32";
  }
  return L"?";
}

// Every control of `dialog` against its template, in template (tab) order.
void CheckAgainstTemplate(HWND dialog, const ui::DialogTemplate& t) {
  const BaseUnits units = MeasureFont(t);
  auto px_x = [&](int du) { return MulDiv(du, units.x, 4); };
  auto px_y = [&](int du) { return MulDiv(du, units.y, 8); };
  int problems = 0;
  auto problem = [&](const char* what, const ui::ControlTemplate* c) {
    ++problems;
    Fail("template %d, control %d \"%s\": %s", t.id, c ? c->id : 0, c ? c->text : "", what);
  };

  RECT client;
  GetClientRect(dialog, &client);
  if (client.right != px_x(t.w) || client.bottom != px_y(t.h)) problem("dialog size", nullptr);
  // The main window's title is made at start-up from the version.
  if (t.id != ui::kMainTemplate && WindowText(dialog) != Widen(t.title)) problem("title", nullptr);

  HWND child = GetWindow(dialog, GW_CHILD);
  for (const auto& c : t.controls) {
    if (!child) {
      problem("missing", &c);
      continue;
    }
    if (c.id != ui::kIdStatic && GetDlgCtrlID(child) != c.id) problem("id", &c);
    if (ClassOf(child) != ExpectedClass(c.kind)) problem("window class", &c);
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    if (((style & WS_VISIBLE) != 0) != c.visible) problem("visibility", &c);
    using K = ui::ControlKind;
    if (c.kind == K::kLabel || c.kind == K::kPushButton || c.kind == K::kDefPushButton ||
        c.kind == K::kCheckBox) {
      // The result text is set at initialisation; the template's is a stand-in.
      if (c.id != ui::kIdResultText && WindowText(child) != Widen(c.text)) problem("text", &c);
    }
    if (c.kind == K::kDefPushButton && (style & 0x0F) != BS_DEFPUSHBUTTON)
      problem("not the default button", &c);
    if (c.kind == K::kCheckBox && (style & 0x0F) != BS_AUTOCHECKBOX) problem("not a check box", &c);
    // The scroll bar comes and goes with the content; a dialog draws the
    // border sunken.
    const LONG ex_style = GetWindowLongW(child, GWL_EXSTYLE);
    if (c.kind == K::kListBox &&
        (!(style & LBS_NOSEL) || !(style & LBS_NOINTEGRALHEIGHT) || (style & LBS_SORT) ||
         !((style & WS_BORDER) || (ex_style & WS_EX_CLIENTEDGE))))
      problem("list box style", &c);
    if (c.kind == K::kDropDownList) {
      if ((style & 0x3) != CBS_DROPDOWNLIST) problem("not a drop-down list", &c);
      std::vector<std::string> expected(c.items.begin(), c.items.end());
      if (ComboItems(child) != expected) problem("items", &c);
    }
    const RECT r = ClientRectOf(child, dialog);
    // An icon takes the icon's size, a drop-down list the height of its field.
    const bool own_width = c.kind == K::kIcon;
    const bool own_height = c.kind == K::kIcon || c.kind == K::kDropDownList;
    if (r.left != px_x(c.x) || r.top != px_y(c.y) ||
        (!own_width && r.right - r.left != px_x(c.w)) ||
        (!own_height && r.bottom - r.top != px_y(c.h))) {
      char where[128];
      std::snprintf(where, sizeof where, "placed at %ld,%ld %ldx%ld px, not %d,%d %dx%d",
                    r.left, r.top, r.right - r.left, r.bottom - r.top, px_x(c.x), px_y(c.y),
                    px_x(c.w), px_y(c.h));
      problem(where, &c);
    }
    child = GetWindow(child, GW_HWNDNEXT);
  }
  // The window's additions come after the template's own controls.
  for (; child; child = GetWindow(child, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(child);
    if (id != ui::kIdAboutFirmware && id != ui::kIdPlaceholderWarning) {
      problem("more controls than the template", nullptr);
      break;
    }
    Say("template %d, added beside it: %s", t.id, Shown(Narrow(WindowText(child))).c_str());
  }
  if (problems == 0) Say("template %d: %zu controls as the template gives them", t.id,
                              t.controls.size());
}

void SayStyle(HWND window, const char* name) {
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  const LONG ex_style = GetWindowLongW(window, GWL_EXSTYLE);
  Say("%s: caption %d, system menu %d, minimize box %d, maximize box %d, modal frame %d, "
      "app window %d",
      name, (style & WS_CAPTION) == WS_CAPTION, (style & WS_SYSMENU) != 0,
      (style & WS_MINIMIZEBOX) != 0, (style & WS_MAXIMIZEBOX) != 0,
      (ex_style & WS_EX_DLGMODALFRAME) != 0, (ex_style & WS_EX_APPWINDOW) != 0);
}

// --- The main window -------------------------------------------------------------

class MainWindow {
 public:
  explicit MainWindow(HWND hwnd) : hwnd_(hwnd), list_(GetDlgItem(hwnd, 1004)) {}
  HWND hwnd() const { return hwnd_; }
  HWND list() const { return list_; }

  void SayButtons() {
    Say("buttons: Check Device %s, Update Firmware %s, Setting %s, Close %s", State(1001),
        State(1002), State(1014), State(ui::kIdCancel));
  }

  // The lines added since the last call.
  void SayNewLog() {
    const std::vector<std::string> lines = ListLines(list_, seen_);
    for (const auto& line : lines) Say("  log %s", Shown(line).c_str());
    seen_ += static_cast<int>(lines.size());
    // Past 25 lines entry count - 23 goes on top, as far as the list can
    // scroll: the last page stays full.
    // Counted in rows: a long line takes more than one.
    RECT client;
    GetClientRect(list_, &client);
    std::vector<int> heights, rows;
    int row = 0;
    for (int i = 0; i < seen_; ++i) {
      heights.push_back(static_cast<int>(SendMessageW(list_, LB_GETITEMHEIGHT, i, 0)));
      if (row == 0 || (heights.back() > 0 && heights.back() < row)) row = heights.back();
    }
    for (int height : heights) rows.push_back(row > 0 ? height / row : 1);
    int last_top = seen_, fits = 0;
    while (last_top > 0 && fits + heights[static_cast<size_t>(last_top - 1)] <= client.bottom)
      fits += heights[static_cast<size_t>(--last_top)];
    const int top = static_cast<int>(SendMessageW(list_, LB_GETTOPINDEX, 0, 0));
    const int rule = brivelton::LogTopIndexOfRows(rows);
    const int expected_top = rule < 0 ? 0 : std::min(rule, last_top);
    CHECK(top == expected_top, "list shows entry %d on top after %d lines, not %d", top, seen_,
          expected_top);
  }

 private:
  const char* State(int id) const {
    return IsWindowVisible(GetDlgItem(hwnd_, id)) ? "shown" : "hidden";
  }

  HWND hwnd_;
  HWND list_;
  int seen_ = 0;
};

// --- The steps -------------------------------------------------------------------

void StartUp(MainWindow& main) {
  Say("== start");
  Say("title %s", Shown(Narrow(WindowText(main.hwnd()))).c_str());
  SayStyle(main.hwnd(), "main window");
  main.SayButtons();
  CheckAgainstTemplate(main.hwnd(), ui::MainDialogTemplate());
}

void About(MainWindow& main) {
  Say("== About from the system menu");
  // The command is matched with its low four bits cleared.
  PostMessageW(main.hwnd(), WM_SYSCOMMAND, ui::kAboutCommand | 0x3, 0);
  HWND about = WaitForDialog(ui::AboutTitle(), main.hwnd(), kShortWait);
  if (!about) {
    Fail("no About box");
    return;
  }
  SayStyle(about, "about box");
  CheckAgainstTemplate(about, ui::AboutDialogTemplate());
  Screenshot("about", about);
  PressKey(FocusOf(about), VK_ESCAPE);
  Say("Escape closes it: %s", WaitGone(about, kShortWait) ? "yes" : "no");
  WaitIdle(main.hwnd(), kShortWait);
}

void CheckDevice(MainWindow& main) {
  Say("== Check Device");
  CHECK(ClickAndWait(main.hwnd(), 1001, kLongWait), "Check Device did not return");
  CHECK(WaitConversationEnd(main.hwnd(), kLongWait), "Check Device did not end");
  main.SayNewLog();
  main.SayButtons();
  Sleep(300);
  WaitIdle(main.hwnd(), kShortWait);
  Screenshot("main-after-check-device", main.hwnd());
}

void SettingRefused(MainWindow& main) {
  Say("== Setting before the update");
  CHECK(ClickAndWait(main.hwnd(), 1014, kLongWait), "Setting did not return");
  CHECK(WaitConversationEnd(main.hwnd(), kLongWait), "Setting did not end");
  main.SayNewLog();
}

void UpdateCancelledWithEnter(MainWindow& main) {
  Say("== Update Firmware, Enter in the warning");
  Click(main.hwnd(), 1002);
  HWND warning = WaitForDialog("Firmware Update", main.hwnd(), kShortWait);
  if (!warning) {
    Fail("no warning dialog");
    return;
  }
  SayStyle(warning, "warning");
  CheckAgainstTemplate(warning, ui::UpdateConfirmDialogTemplate());
  HWND focus = FocusOf(warning);
  Say("focus on %s", Shown(Narrow(WindowText(focus))).c_str());
  PressKey(focus, VK_RETURN);
  CHECK(WaitGone(warning, kShortWait), "Enter left the warning open");
  CHECK(WaitConversationEnd(main.hwnd(), kLongWait), "the conversation did not end");
  main.SayNewLog();
}

void Update(MainWindow& main) {
  Say("== Update Firmware, OK in the warning");
  Click(main.hwnd(), 1002);
  HWND warning = WaitForDialog("Firmware Update", main.hwnd(), kShortWait);
  if (!warning) {
    Fail("no warning dialog");
    return;
  }
  Click(warning, ui::kIdUpdateOk);
  CHECK(WaitGone(warning, kShortWait), "OK left the warning open");
  // Throughout the update the window answers the system at once; while the
  // flash is written it shows the bar with its stage and percentage in words
  // and the line not to unplug, its buttons are disabled, and a close is
  // refused with the reason in that line.
  namespace w32 = brivelton::win32;
  const std::string unplug = "Do not unplug the adapter or close this window.";
  const std::string refused =
      "The window stays open while the flash is rewritten: closing now would leave "
      "the adapter without firmware.";
  HWND result = nullptr;
  int unanswered = 0, hung = 0, asked = 0, last_percent = -1;
  DWORD slowest = 0;
  bool bar_seen = false, enabled_seen = false, words_shrank = false, poked = false;
  bool erase_shot = false, write_shot = false;
  std::string odd_words, odd_notice, notice_after_close = "<no close>";
  for (DWORD start = GetTickCount(); !result && GetTickCount() - start < kLongWait;) {
    DWORD_PTR answer = 0;
    const DWORD sent = GetTickCount();
    ++asked;
    if (!SendMessageTimeoutW(main.hwnd(), WM_NULL, 0, 0, SMTO_NORMAL, 250, &answer)) {
      ++unanswered;
      // A window whose thread waits on the adapter stays silent for seconds;
      // one the scheduler of a busy machine held back answers soon after.
      if (!SendMessageTimeoutW(main.hwnd(), WM_NULL, 0, 0, SMTO_NORMAL, 2000, &answer)) ++hung;
      std::fprintf(stderr, "unanswered at %lu ms, bar %d, log %d\n",
                   static_cast<unsigned long>(sent - start), bar_seen ? 1 : 0,
                   static_cast<int>(SendMessageW(GetDlgItem(main.hwnd(), 1004), LB_GETCOUNT, 0, 0)));
    }
    slowest = std::max(slowest, GetTickCount() - sent);
    HWND bar = GetDlgItem(main.hwnd(), w32::kIdProgressBar);
    if (bar && IsWindowVisible(bar)) {
      bar_seen = true;
      for (int id : {1001, 1002, 1014, IDCANCEL})
        if (IsWindowEnabled(GetDlgItem(main.hwnd(), id))) enabled_seen = true;
      const std::string words =
          Narrow(WindowText(GetDlgItem(main.hwnd(), w32::kIdProgressStage)));
      const std::string notice =
          Narrow(WindowText(GetDlgItem(main.hwnd(), w32::kIdProgressNotice)));
      char stage[16] = {};
      int percent = -1;
      const bool counting = std::sscanf(words.c_str(), "%15[a-zA-Z] %d%%", stage, &percent) == 2 &&
                            (std::string(stage) == "Erasing" || std::string(stage) == "Writing");
      if (counting) {
        if (percent < last_percent) words_shrank = true;
        last_percent = percent;
        if (!poked && notice != unplug) odd_notice = notice;
      } else if (words != "Verifying" && words != "Done") {
        odd_words = words;
      }
      if (counting && !erase_shot && std::string(stage) == "Erasing" && percent >= 5) {
        erase_shot = true;
        Screenshot("main-erase", main.hwnd());
      }
      if (counting && !write_shot && std::string(stage) == "Writing" && percent >= 60) {
        write_shot = true;
        Screenshot("main-progress", main.hwnd());
      }
      // The close comes after the first two pictures, so that they show the
      // line that asks not to unplug.
      if (counting && !poked && write_shot) {
        poked = true;
        Click(main.hwnd(), 1001);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(main.hwnd(), WM_CLOSE, 0, 0, SMTO_NORMAL, kShortWait, &ignored);
        notice_after_close =
            Narrow(WindowText(GetDlgItem(main.hwnd(), w32::kIdProgressNotice)));
        Screenshot("main-close-refused", main.hwnd());
      }
    }
    result = WaitForDialog("Firmware Update Result", main.hwnd(), 0);
    if (!result) Sleep(50);
  }
  // At most one ask in twenty a little late, none left unanswered.
  const bool answered = hung == 0 && unanswered * 20 <= asked;
  Say("answered the system throughout: %s", answered ? "yes" : "no");
  CHECK(answered, "%d of %d WM_NULL unanswered within 250 ms, %d within 2 s; the slowest took %lu ms",
        unanswered, asked, hung, static_cast<unsigned long>(slowest));
  Say("progress bar while the flash was written: %s", bar_seen ? "shown" : "not shown");
  Say("buttons while the flash was written: %s", enabled_seen ? "enabled" : "disabled");
  CHECK(odd_words.empty(), "the bar's words read %s", Shown(odd_words).c_str());
  Say("its percentage in words: %s",
      last_percent < 0 ? "never read" : words_shrank ? "went back" : "only grew");
  CHECK(odd_notice.empty(), "the line under the bar read %s", Shown(odd_notice).c_str());
  Say("Check Device clicked and the window closed during the update");
  Say("the close was refused with its reason: %s",
      notice_after_close == refused ? "yes" : Shown(notice_after_close).c_str());
  if (!result) {
    Fail("no result dialog");
    main.SayNewLog();
    return;
  }
  {
    HWND bar = GetDlgItem(main.hwnd(), w32::kIdProgressBar);
    const std::string words =
        Narrow(WindowText(GetDlgItem(main.hwnd(), w32::kIdProgressStage)));
    Say("under the result dialog the bar reads %s at %d of %d", Shown(words).c_str(),
        static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)),
        static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0)));
    Screenshot("main-done", main.hwnd(), result);
  }
  SayStyle(result, "result");
  CheckAgainstTemplate(result, ui::UpdateResultDialogTemplate());
  Say("result text %s",
      Shown(Narrow(WindowText(GetDlgItem(result, ui::kIdResultText)))).c_str());
  Screenshot("update-result", result);
  Click(result, ui::kIdOk);
  CHECK(WaitGone(result, kShortWait), "OK left the result open");
  CHECK(WaitConversationEnd(main.hwnd(), kLongWait), "the conversation did not end");
  main.SayNewLog();
  // Gone with the span it showed: the window is its template again.
  int controls = 0;
  for (HWND child = GetWindow(main.hwnd(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    ++controls;
  Say("progress bar after the update: %s; %d controls",
      FindWindowExW(main.hwnd(), nullptr, PROGRESS_CLASSW, nullptr) ? "still there" : "gone",
      controls);
  bool all_enabled = true;
  for (int id : {1001, 1002, 1014, IDCANCEL})
    if (!IsWindowEnabled(GetDlgItem(main.hwnd(), id))) all_enabled = false;
  Say("buttons after the update: %s", all_enabled ? "enabled" : "disabled");
}

void SaySettings(HWND dialog) {
  std::string checks;
  for (int id : brivelton::kCheckBoxIds) {
    HWND box = GetDlgItem(dialog, id);
    // Appended piece by piece: gcc 12 at -O3 takes `" " + std::string` for
    // an overlapping copy (-Wrestrict).
    checks += ' ';
    checks += std::to_string(id);
    checks += SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? " on" : " off";
  }
  Say("  check boxes:%s", checks.c_str());
  std::string lists;
  for (int id : brivelton::kDropDownIds) {
    HWND combo = GetDlgItem(dialog, id);
    const int choice = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    const std::vector<std::string> items = ComboItems(combo);
    const bool known = choice >= 0 && choice < static_cast<int>(items.size());
    lists += ' ';
    lists += std::to_string(id);
    lists += ' ';
    lists += known ? Shown(items[choice]) : "[none]";
  }
  Say("  lists:%s", lists.c_str());
}

HWND OpenSettings(MainWindow& main) {
  Click(main.hwnd(), 1014);
  HWND settings = WaitForDialog("Set Brivelton Parameters", main.hwnd(), kLongWait);
  if (!settings) Fail("no settings dialog");
  return settings;
}

void SettingsHelp(HWND settings) {
  Click(settings, ui::kIdSettingsHelp);
  HWND help = WaitForDialog("Help", settings, kShortWait);
  if (!help) {
    Fail("no help dialog");
    return;
  }
  SayStyle(help, "help");
  CheckAgainstTemplate(help, ui::HelpDialogTemplate());
  Screenshot("help", help, settings);
  // Placed at (150, 0) dialog units from the owner's client area.
  const BaseUnits units = MeasureFont(ui::HelpDialogTemplate());
  // A template places the client area.
  POINT origin{0, 0}, place{0, 0};
  ClientToScreen(settings, &origin);
  ClientToScreen(help, &place);
  const long dx = place.x - origin.x, dy = place.y - origin.y;
  CHECK(dx == MulDiv(ui::kHelpOffsetX, units.x, 4) && dy == MulDiv(ui::kHelpOffsetY, units.y, 8),
        "help placed at %ld,%ld px from its owner", dx, dy);
  const std::vector<std::string> lines = ListLines(GetDlgItem(help, ui::kIdHelpList), 0);
  const auto expected = brivelton::SettingsHelpLines();
  CHECK(lines == std::vector<std::string>(expected.begin(), expected.end()),
        "help list differs from the 41 lines");
  Say("help: %zu lines, the last %s", lines.size(),
      lines.empty() ? "-" : Shown(lines.back()).c_str());
  Click(help, ui::kIdOk);
  CHECK(WaitGone(help, kShortWait), "OK left the help open");
}

void SettingsCancelled(MainWindow& main) {
  Say("== Setting, looked at, Help, Set to Default, Cancel");
  HWND settings = OpenSettings(main);
  if (!settings) return;
  SayStyle(settings, "settings");
  CheckAgainstTemplate(settings, ui::SettingsDialogTemplate());
  Say("as read from the device:");
  SaySettings(settings);
  Screenshot("settings", settings);
  SettingsHelp(settings);
  Say("after Help:");
  SaySettings(settings);
  // Change everything away from the defaults, then ask for them back.
  for (int id : brivelton::kCheckBoxIds) ClickAndWait(settings, id, kShortWait);
  for (int id : brivelton::kDropDownIds)
    SendMessageW(GetDlgItem(settings, id), CB_SETCURSEL, 2 + (id == brivelton::kIdHookSpeed), 0);
  Say("changed:");
  SaySettings(settings);
  ClickAndWait(settings, ui::kIdSetDefault, kShortWait);
  Say("after Set to Default:");
  SaySettings(settings);
  Click(settings, ui::kIdCancel);
  CHECK(WaitGone(settings, kShortWait), "Cancel left the settings open");
  CHECK(WaitConversationEnd(main.hwnd(), kLongWait), "the conversation did not end");
  main.SayNewLog();
}

void SettingsChanged(MainWindow& main) {
  Say("== Setting, four changes, OK");
  HWND settings = OpenSettings(main);
  if (!settings) return;
  ClickAndWait(settings, brivelton::kIdCallerId, kShortWait);    // off
  ClickAndWait(settings, brivelton::kIdMediaAudio, kShortWait);  // on
  SendMessageW(GetDlgItem(settings, brivelton::kIdOffHookPower), CB_SETCURSEL, 0, 0);  // Low
  SendMessageW(GetDlgItem(settings, brivelton::kIdHookSpeed), CB_SETCURSEL, 0, 0);     // 30 ms
  SaySettings(settings);
  Click(settings, ui::kIdOk);
  CHECK(WaitGone(settings, kShortWait), "OK left the settings open");
  CHECK(WaitConversationEnd(main.hwnd(), kLongWait), "the conversation did not end");
  main.SayNewLog();

  Say("== Setting again: the device keeps them");
  settings = OpenSettings(main);
  if (!settings) return;
  SaySettings(settings);
  PressKey(FocusOf(settings), VK_ESCAPE);
  CHECK(WaitGone(settings, kShortWait), "Escape left the settings open");
  CHECK(WaitConversationEnd(main.hwnd(), kLongWait), "the conversation did not end");
  main.SayNewLog();
}

// --- The address dialog, on an adapter whose page has lost its address ----------

// Two addresses saved from COM5 and none other: neither applies alone, so
// every update asks.
const brivelton::BtAddressBytes kSavedX = {0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E};
const brivelton::BtAddressBytes kSavedY = {0x00, 0xAA, 0xBB, 0x11, 0x22, 0x33};

void PlantEntries() {
  brivelton::FileStateStore store(brivelton::DefaultStateDirectory());
  brivelton::IdentityJournal journal(store);
  for (const auto& entry : journal.Read().entries) (void)journal.Forget(entry.address);
  for (const auto& address : {kSavedX, kSavedY}) {
    brivelton::JournalEntry entry;
    entry.port = "COM5";
    entry.address = address;
    entry.saved = brivelton::JournalTimestamp();
    const auto saved = journal.Save(entry);
    CHECK(saved, "cannot save an entry: %s", saved.error().text().c_str());
  }
  Say("saved addresses planted: %zu", journal.Read().entries.size());
}

// Update Firmware, OK in the warning: the address dialog, before any erase.
HWND OpenAddressDialog(MainWindow& main) {
  Click(main.hwnd(), 1002);
  HWND warning = WaitForDialog("Firmware Update", main.hwnd(), kShortWait);
  if (!warning) {
    Fail("no warning dialog");
    return nullptr;
  }
  Click(warning, ui::kIdUpdateOk);
  CHECK(WaitGone(warning, kShortWait), "OK left the warning open");
  HWND dialog = WaitForDialog(ui::AddressDialogTemplate().title, main.hwnd(), kLongWait);
  if (!dialog) Fail("no address dialog");
  return dialog;
}

// Sets the field and presses OK; the sentence under the field after it.
std::string OkWith(HWND dialog, const char* typed) {
  SetDlgItemTextW(dialog, ui::kIdAddressError, L"");
  SetDlgItemTextW(dialog, ui::kIdAddressEdit, Widen(typed).c_str());
  ClickAndWait(dialog, ui::kIdOk, kShortWait);
  return Narrow(WindowText(GetDlgItem(dialog, ui::kIdAddressError)));
}

// The update that follows the dialog, to its result.
void UpdateToItsResult(MainWindow& main) {
  HWND result = WaitForDialog("Firmware Update Result", main.hwnd(), kLongWait);
  if (!result) {
    Fail("no result dialog");
    return;
  }
  Say("result text %s",
      Shown(Narrow(WindowText(GetDlgItem(result, ui::kIdResultText)))).c_str());
  Click(result, ui::kIdOk);
  CHECK(WaitGone(result, kShortWait), "OK left the result open");
  CHECK(WaitConversationEnd(main.hwnd(), kLongWait), "the conversation did not end");
}

void AddressDialogs(MainWindow& main) {
  PlantEntries();
  Say("== Check Device");
  CHECK(ClickAndWait(main.hwnd(), 1001, kLongWait), "Check Device did not return");
  CHECK(WaitConversationEnd(main.hwnd(), kLongWait), "Check Device did not end");
  main.SayNewLog();

  Say("== Update on the blank page: the address dialog, Cancel");
  HWND dialog = OpenAddressDialog(main);
  if (!dialog) return;
  SayStyle(dialog, "address dialog");
  CheckAgainstTemplate(dialog, ui::AddressDialogTemplate());
  HWND list = GetDlgItem(dialog, ui::kIdAddressList);
  const std::vector<std::string> lines = ListLines(list, 0);
  for (const auto& line : lines) Say("  saved %s", Shown(line).c_str());
  CHECK(lines.size() == 2, "%zu saved addresses listed, not 2", lines.size());
  Screenshot("address", dialog);
  // A click on the second line puts its address in the field.
  RECT item{};
  SendMessageW(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
  const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(list, WM_LBUTTONUP, 0, at);
  std::string field;
  for (DWORD waited = 0; field.empty() && waited <= kShortWait; waited += 50) {
    Sleep(50);
    field = Narrow(WindowText(GetDlgItem(dialog, ui::kIdAddressEdit)));
  }
  Say("the second line picked puts %s in the field", Shown(field).c_str());
  CHECK(lines.size() == 2 && lines[1].rfind(field, 0) == 0 && field.size() == 17,
        "the field reads %s after the pick", Shown(field).c_str());
  for (const char* typed : {"00:00:00:00:00:00", "FFFFFFFFFFFF", "00:01:00:03:04:06", "12345"}) {
    const std::string said = OkWith(dialog, typed);
    const auto accepted = brivelton::AcceptTypedAddress(typed);
    const std::string refusal = accepted ? "" : accepted.error().text();
    Say("OK with %s: %s", typed, Shown(said).c_str());
    CHECK(!said.empty() && said == refusal, "OK with %s said %s", typed, Shown(said).c_str());
    CHECK(IsWindowVisible(dialog), "OK with %s closed the dialog", typed);
  }
  Screenshot("address-refused", dialog);
  Click(dialog, ui::kIdCancel);
  CHECK(WaitGone(dialog, kShortWait), "Cancel left the address dialog open");
  CHECK(WaitConversationEnd(main.hwnd(), kLongWait), "the conversation did not end");
  CHECK(!WaitForDialog("Firmware Update Result", main.hwnd(), 0), "a result after Cancel");
  main.SayNewLog();

  Say("== Again, Continue without");
  dialog = OpenAddressDialog(main);
  if (!dialog) return;
  Click(dialog, ui::kIdContinueWithout);
  CHECK(WaitGone(dialog, kShortWait), "Continue without left the address dialog open");
  UpdateToItsResult(main);
  main.SayNewLog();

  Say("== Again: the start-up address is no address; 12 digits typed, Enter");
  dialog = OpenAddressDialog(main);
  if (!dialog) return;
  HWND edit = GetDlgItem(dialog, ui::kIdAddressEdit);
  SetWindowTextW(edit, L"5a-1b-3c-77-88-99");
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
  PressKey(edit, VK_RETURN);
  CHECK(WaitGone(dialog, kShortWait), "Enter left the address dialog open");
  UpdateToItsResult(main);
  main.SayNewLog();
}

// --- Failed attempts, on an adapter whose first checksum comes back short --------

std::string ItemText(HWND window, int id) { return Narrow(WindowText(GetDlgItem(window, id))); }

RECT ScreenRectOf(HWND window) {
  RECT r{};
  if (window) GetWindowRect(window, &r);
  return r;
}

// The page is blank and one address saved from COM5 fits it: the log's
// longest line names it. The first attempt fails at its checksum; in the
// pause the bar says so and that the next starts in 3 s, the warning stays
// and Escape is refused; the second attempt is verified, and the result
// dialog leaves the bar's word and the notice in view.
void FailedAttempt(MainWindow& main) {
  namespace w32 = brivelton::win32;
  {
    brivelton::FileStateStore store(brivelton::DefaultStateDirectory());
    brivelton::IdentityJournal journal(store);
    for (const auto& entry : journal.Read().entries) (void)journal.Forget(entry.address);
    brivelton::JournalEntry entry;
    entry.port = "COM5";
    entry.address = {0x5A, 0x1B, 0x3C, 0x4D, 0x5E, 0x6F};
    entry.saved = brivelton::JournalTimestamp();
    const auto saved = journal.Save(entry);
    CHECK(saved, "cannot save an entry: %s", saved.error().text().c_str());
  }
  Say("== Check Device");
  CHECK(ClickAndWait(main.hwnd(), 1001, kLongWait), "Check Device did not return");
  CHECK(WaitConversationEnd(main.hwnd(), kLongWait), "Check Device did not end");
  main.SayNewLog();
  Say("== Update Firmware: the first checksum fails");
  Click(main.hwnd(), 1002);
  HWND warning = WaitForDialog("Firmware Update", main.hwnd(), kShortWait);
  if (!warning) {
    Fail("no warning dialog");
    return;
  }
  CheckAgainstTemplate(warning, ui::UpdateConfirmDialogTemplate());
  Screenshot("update-warning", warning);
  Click(warning, ui::kIdUpdateOk);
  CHECK(WaitGone(warning, kShortWait), "OK left the warning open");
  const std::string pause =
      "Attempt 1 of 20 failed: the checksum did not match. Trying again in 3 s.";
  std::string words;
  for (DWORD start = GetTickCount(); GetTickCount() - start < kLongWait; Sleep(20)) {
    words = ItemText(main.hwnd(), w32::kIdProgressStage);
    if (words == pause || WaitForDialog("Firmware Update Result", main.hwnd(), 0)) break;
  }
  Say("in the pause the bar reads %s", Shown(words).c_str());
  Say("  at %d; the line under it %s",
      static_cast<int>(SendMessageW(GetDlgItem(main.hwnd(), w32::kIdProgressBar), PBM_GETPOS, 0, 0)),
      Shown(ItemText(main.hwnd(), w32::kIdProgressNotice)).c_str());
  CHECK(words == pause, "the pause was not shown");
  Screenshot("main-attempt-failed", main.hwnd());
  HWND focus = FocusOf(main.hwnd());
  PressKey(focus ? focus : main.list(), VK_ESCAPE);
  WaitIdle(main.hwnd(), kShortWait);
  Say("Escape in the pause: %s", Shown(ItemText(main.hwnd(), w32::kIdProgressNotice)).c_str());
  CHECK(IsWindowVisible(main.hwnd()), "Escape closed the window");

  HWND result = WaitForDialog("Firmware Update Result", main.hwnd(), kLongWait);
  if (!result) {
    Fail("no result dialog");
    return;
  }
  Say("under the result dialog the bar reads %s",
      Shown(ItemText(main.hwnd(), w32::kIdProgressStage)).c_str());
  RECT keep = ScreenRectOf(GetDlgItem(main.hwnd(), w32::kIdProgressBar)), part, overlap;
  for (int id : {w32::kIdProgressStage, w32::kIdProgressNotice}) {
    part = ScreenRectOf(GetDlgItem(main.hwnd(), id));
    if (!IsRectEmpty(&part)) UnionRect(&keep, &keep, &part);
  }
  const RECT dialog = ScreenRectOf(result);
  Say("the result dialog leaves the bar and its lines in view: %s",
      IntersectRect(&overlap, &keep, &dialog) ? "no" : "yes");
  Screenshot("main-result-beside-bar", main.hwnd(), result);
  Click(result, ui::kIdOk);
  CHECK(WaitGone(result, kShortWait), "OK left the result open");
  CHECK(WaitConversationEnd(main.hwnd(), kLongWait), "the conversation did not end");
  main.SayNewLog();

  // The line that names the address: in rows, taller than a short one.
  const std::vector<std::string> lines = ListLines(main.list(), 0);
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    if (lines[static_cast<size_t>(i)].find("restored address 5A:1B:3C:4D:5E:6F") == std::string::npos)
      continue;
    const int tall = static_cast<int>(SendMessageW(main.list(), LB_GETITEMHEIGHT, i, 0));
    const int one = static_cast<int>(SendMessageW(main.list(), LB_GETITEMHEIGHT, 0, 0));
    Say("the line that names the address takes %d rows", one > 0 ? tall / one : 0);
    SendMessageW(main.list(), LB_SETTOPINDEX, static_cast<WPARAM>(std::max(0, i - 2)), 0);
    Screenshot("main-long-line", main.hwnd());
    return;
  }
  Fail("no line names the restored address");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[2] : "";
  const bool address = mode == "address";
  const bool attempts = mode == "attempts";
  if (argc != 2 && !address && !attempts) {
    std::fprintf(stderr, "usage: brivelton-window-driver SHOT_DIR [address|attempts]\n");
    return 2;
  }
  g_shot_dir = Widen(argv[1]);
  const std::string title = "Brivelton Utility Version: 2.04";
  HWND hwnd = WaitForDialog(title.c_str(), nullptr, 120'000);
  if (!hwnd) {
    Fail("no window titled %s", title.c_str());
    return 1;
  }
  WaitIdle(hwnd, kShortWait);
  MainWindow main(hwnd);
  if (address || attempts) {
    if (address)
      AddressDialogs(main);
    else
      FailedAttempt(main);
    Say("== Close");
    Click(hwnd, ui::kIdCancel);
    Say("window closed: %s", WaitGone(hwnd, kShortWait) ? "yes" : "no");
    return g_failures ? 1 : 0;
  }
  StartUp(main);
  About(main);
  CheckDevice(main);
  SettingRefused(main);
  UpdateCancelledWithEnter(main);
  Update(main);
  SettingsCancelled(main);
  SettingsChanged(main);

  Say("== Close");
  Click(hwnd, ui::kIdCancel);
  Say("window closed: %s", WaitGone(hwnd, kShortWait) ? "yes" : "no");
  return g_failures ? 1 : 0;
}
