// SPDX-License-Identifier: MIT
#include "gui/win32/main_window.h"

#include <commctrl.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/address_form.h"
#include "app/log_rows.h"
#include "gui/win32/dialogs.h"
#include "gui/win32/window_messages.h"
#include "log/message_log.h"
#include "resources/firmware_image.h"

namespace brivelton::win32 {

namespace {

constexpr DialogFrame kMainFrame{
    DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
    WS_EX_APPWINDOW, 0, 0, kIdMessageList};

// Inside a drawn line of the message list, in pixels.
constexpr int kListMargin = 2;
// The words under the bar take as many lines as they need and the notice
// follows them this far below, in dialog units.
constexpr int kColumnGap = 4;

HINSTANCE Module() { return GetModuleHandleA(nullptr); }

constexpr int kButtons[] = {kIdCheckDevice, kIdUpdateFirmware, kIdSetting, IDCANCEL};

std::wstring Wide(const std::string& text) {
  std::wstring wide;
  for (unsigned char c : text) wide += static_cast<wchar_t>(c);
  return wide;
}

// A label as tall as its words need at its width, never shorter than its
// place in dialog units.
void FitHeight(HWND label, const std::wstring& words, const RECT& place_du) {
  RECT least = place_du;
  MapDialogRect(GetParent(label), &least);
  RECT place;
  GetClientRect(label, &place);
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
  RECT need = place;
  DrawTextW(dc, words.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  const LONG height = std::max(need.bottom, least.bottom - least.top);
  if (height != place.bottom)
    SetWindowPos(label, nullptr, 0, 0, place.right, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A message box on the window, and the same on stderr for a log.
void Report(HWND owner, const std::string& what) {
  std::fprintf(stderr, "brivelton-utility: %s\n", what.c_str());
  MessageBoxA(owner, what.c_str(), "Brivelton Utility", MB_OK | MB_ICONWARNING);
}

}  // namespace

MainWindow::MainWindow(Platform& platform, LineSink trace, const FirmwareImage& image)
    : Dialog(ui::MainDialogTemplate(), kMainFrame),
      icon_(LoadIconA(Module(), MAKEINTRESOURCEA(ui::kIconAdapter))),
      // The 16-pixel image of the same icon: the system would otherwise
      // shrink the 32-pixel one for the caption and the task bar.
      small_icon_(static_cast<HICON>(LoadImageA(Module(), MAKEINTRESOURCEA(ui::kIconAdapter),
                                                IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), LR_SHARED))),
      image_(image),
      stack_(platform, [this](const std::string& line) { AppendLog(line); }, std::move(trace),
             image),
      logic_(*this, stack_) {
  if (!small_icon_) small_icon_ = icon_;
}

MainWindow::~MainWindow() {
  worker_.Join();
  if (taskbar_) taskbar_->Release();
}

BOOL MainWindow::OnInitDialog() {
  window_thread_ = GetCurrentThreadId();
  // The taskbar button's progress; a system without it (older Windows, some
  // Wine set-ups) simply shows none.
  if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    ITaskbarList3* taskbar = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ITaskbarList3, reinterpret_cast<void**>(&taskbar)))) {
      if (SUCCEEDED(taskbar->HrInit()))
        taskbar_ = taskbar;
      else
        taskbar->Release();
    }
  }
  HMENU system_menu = GetSystemMenu(hwnd(), FALSE);
  char about[256];
  if (system_menu &&
      LoadStringA(Module(), ui::kStringAbout, about, sizeof about) > 0 && about[0]) {
    AppendMenuA(system_menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(system_menu, MF_STRING, ui::kAboutCommand, about);
  }
  SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
  const std::string title = "Brivelton Utility Version: " + VersionText(image_.version());
  SetWindowTextA(hwnd(), title.c_str());
  return TRUE;
}

bool MainWindow::OnCommand(int id, int code) {
  // One conversation at a time: the buttons are disabled meanwhile, Enter
  // waits for its end, and Escape is a close asked for.
  if (!conversation_.idle()) {
    if (id == IDCANCEL) CloseRequested();
    return true;
  }
  if (code == BN_CLICKED && MainDialog::HasHandler(id)) {
    StartConversation(id);
    return true;
  }
  return Dialog::OnCommand(id, code);
}

void MainWindow::StartConversation(int id) {
  if (!conversation_.Start()) return;
  const auto started = worker_.Start(
      [this, id] { logic_.OnButton(id); },
      [this](const std::string& failure) {
        failure_ = failure;
        PostMessageW(hwnd(), kConversationDone, 0, 0);
      });
  if (!started) {
    conversation_.End();
    Report(hwnd(),
           "The conversation with the adapter could not start: " + started.error().text());
    return;
  }
  Redraw();
}

void MainWindow::ConversationDone() {
  worker_.Join();
  if (!failure_.empty()) {
    // Stopped before a verdict: the bar says so under the box.
    conversation_.GiveUp(AddressSaved());
    Redraw();
    Report(hwnd(), "The conversation with the adapter stopped: " + failure_);
  }
  failure_.clear();
  // The bar stayed up under the result dialog; it goes now.
  const bool close = conversation_.End();
  Redraw();
  if (close) End(IDCANCEL);
}

void MainWindow::OnWindowThread(const std::function<void()>& call) {
  if (GetCurrentThreadId() == window_thread_ || !hwnd()) {
    call();
    return;
  }
  // Sent, not posted: the conversation goes on only once the window has
  // done it, so log lines and dialogs keep their order.
  SendMessageW(hwnd(), kRunOnWindowThread, 0,
               reinterpret_cast<LPARAM>(const_cast<std::function<void()>*>(&call)));
}

INT_PTR MainWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
  switch (msg) {
    case kRunOnWindowThread:
      (*reinterpret_cast<std::function<void()>*>(lp))();
      handled = true;
      return TRUE;
    case kConversationDone:
      ConversationDone();
      handled = true;
      return TRUE;
    case kQueryBusy:
      handled = true;
      SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, conversation_.idle() ? 0 : 1);
      return TRUE;
    case WM_CLOSE:
      if (conversation_.idle()) break;
      CloseRequested();
      handled = true;
      return TRUE;
    case WM_MEASUREITEM: {
      auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
      if (item->CtlID != static_cast<UINT>(kIdMessageList)) break;
      HWND list = Item(kIdMessageList);
      HDC dc = GetDC(list);
      HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
      TEXTMETRICA metrics{};
      GetTextMetricsA(dc, &metrics);
      SelectObject(dc, old);
      ReleaseDC(list, dc);
      const int rows = static_cast<int>(ListRows(adding_).size());
      item->itemHeight = static_cast<UINT>(std::min(255L, rows * metrics.tmHeight));
      handled = true;
      return TRUE;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (item->CtlID != static_cast<UINT>(kIdMessageList)) break;
      DrawListLine(*item);
      handled = true;
      return TRUE;
    }
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) != ui::kAboutCommand) break;
      {
        AboutDialog about(image_);
        about.DoModal(hwnd());
      }
      handled = true;
      return TRUE;
    case WM_PAINT:
      if (!IsIconic(hwnd())) break;
      PaintIconic();
      handled = true;
      return TRUE;
    case WM_QUERYDRAGICON:
      handled = true;
      return reinterpret_cast<INT_PTR>(icon_);
    default:
      break;
  }
  handled = false;
  return 0;
}

void MainWindow::CloseRequested() {
  // Never while the adapter has no firmware; otherwise once the
  // conversation reaches its end. The line under the bar says which.
  if (conversation_.RequestClose() == Conversation::Close::kRefused) MessageBeep(MB_ICONWARNING);
  Redraw();
}

bool MainWindow::AddressSaved() {
  return stack_.updater.address_kept();
}

std::vector<std::string> MainWindow::ListRows(const std::string& line) {
  HWND list = Item(kIdMessageList);
  std::string text = line;
  // A trailing newline does not make a line taller.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  RECT client;
  GetClientRect(list, &client);
  // The same width with or without the scroll bar, so that no line changes
  // its rows when the bar comes.
  const bool bar = (GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL) != 0;
  const int width =
      client.right - 2 * kListMargin - (bar ? 0 : GetSystemMetrics(SM_CXVSCROLL));
  HDC dc = GetDC(list);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  auto rows = WrapLogLine(text, width, 3 * metrics.tmAveCharWidth, [dc](std::string_view part) {
    SIZE size{};
    GetTextExtentPoint32A(dc, part.data(), static_cast<int>(part.size()), &size);
    return static_cast<int>(size.cx);
  });
  SelectObject(dc, old);
  ReleaseDC(list, dc);
  return rows;
}

void MainWindow::DrawListLine(const DRAWITEMSTRUCT& item) {
  if (item.itemAction == ODA_FOCUS) {
    DrawFocusRect(item.hDC, &item.rcItem);
    return;
  }
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_WINDOW));
  if (item.itemID == static_cast<UINT>(-1)) return;
  const LRESULT length = SendMessageA(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0);
  if (length < 0) return;
  std::string line(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(line.data()));
  line.resize(static_cast<size_t>(length));
  HGDIOBJ old = SelectObject(
      item.hDC, reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
  TEXTMETRICA metrics{};
  GetTextMetricsA(item.hDC, &metrics);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, GetSysColor(COLOR_WINDOWTEXT));
  int y = item.rcItem.top;
  bool first = true;
  for (const std::string& row : ListRows(line)) {
    const int x = item.rcItem.left + kListMargin + (first ? 0 : 3 * metrics.tmAveCharWidth);
    TextOutA(item.hDC, x, y, row.data(), static_cast<int>(row.size()));
    y += metrics.tmHeight;
    first = false;
  }
  SelectObject(item.hDC, old);
  if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
}

void MainWindow::PaintIconic() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd(), &paint);
  SendMessageA(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(hwnd(), &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon_);
  EndPaint(hwnd(), &paint);
}

void MainWindow::ShowButton(int id, bool show) {
  OnWindowThread([&] { ShowWindow(Item(id), show ? SW_SHOW : SW_HIDE); });
}

void MainWindow::AppendLog(const std::string& line) {
  OnWindowThread([&] {
    HWND list = Item(kIdMessageList);
    adding_ = line;
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    rows_.push_back(static_cast<int>(ListRows(line).size()));
    const int top = LogTopIndexOfRows(rows_);
    if (top >= 0) SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
    UpdateWindow(list);
  });
}

bool MainWindow::ConfirmUpdate() {
  bool ok = false;
  OnWindowThread([&] {
    UpdateConfirmDialog confirm(image_);
    ok = confirm.DoModal(hwnd()) == IDOK;
  });
  return ok;
}

void MainWindow::ShowUpdateResult(bool success) {
  OnWindowThread([&] {
    UpdateResultDialog result;
    result.m_success = success;
    // Beside the bar's last word and the notice, not over them.
    for (HWND shown : {progress_, stage_, notice_}) {
      RECT place;
      if (shown && GetWindowRect(shown, &place))
        UnionRect(&result.keep_in_view, &result.keep_in_view, &place);
    }
    result.DoModal(hwnd());
  });
}

bool MainWindow::EditSettings(SettingsValues& values) {
  bool ok = false;
  OnWindowThread([&] {
    SettingsValues edited = values;
    SettingsDialog settings(edited, stack_.log);
    if (settings.DoModal(hwnd()) != IDOK) return;
    values = edited;
    ok = true;
  });
  return ok;
}

AddressReply MainWindow::AskAddress(const std::vector<JournalEntry>& candidates) {
  AddressReply reply{AddressAnswer::kCancel, {}};
  OnWindowThread([&] {
    AddressDialog dialog(candidates);
    if (dialog.DoModal(hwnd()) != -1) reply = dialog.reply();
  });
  return reply;
}

std::string MainWindow::HowToGiveAddress(const std::string& address) {
  return WindowAddressRemedy(address);
}

void MainWindow::Redraw() {
  const bool idle = conversation_.idle();
  for (int id : kButtons) EnableWindow(Item(id), idle ? TRUE : FALSE);
  // A disabled button loses the focus; give it back for the keyboard.
  if (idle && !GetFocus())
    SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(kIdCheckDevice)), TRUE);

  // Made when needed and gone after: outside a conversation the window is
  // exactly its template.
  const auto destroy = [](HWND& child) {
    if (child) DestroyWindow(child);
    child = nullptr;
  };
  if (conversation_.bar_shown()) {
    if (!progress_) {
      progress_ = MakeChild(PROGRESS_CLASSW, PBS_SMOOTH, kIdProgressBar, kProgressPlace);
      if (progress_) SendMessageW(progress_, PBM_SETRANGE32, 0, Conversation::kBarRange);
      stage_ = MakeChild(L"STATIC", SS_CENTER, kIdProgressStage, kStagePlace);
      if (taskbar_) taskbar_->SetProgressState(hwnd(), TBPF_NORMAL);
    }
    if (progress_) SendMessageW(progress_, PBM_SETPOS, conversation_.bar_value(), 0);
    if (stage_) {
      const std::wstring words = Wide(conversation_.bar_text());
      SetWindowTextW(stage_, words.c_str());
      FitHeight(stage_, words, kStagePlace);
    }
    if (taskbar_)
      taskbar_->SetProgressValue(hwnd(), static_cast<ULONGLONG>(conversation_.bar_value()),
                                 Conversation::kBarRange);
  } else if (progress_ || stage_) {
    destroy(progress_);
    destroy(stage_);
    if (taskbar_) taskbar_->SetProgressState(hwnd(), TBPF_NOPROGRESS);
  }
  if (!conversation_.notice().empty()) {
    if (!notice_) notice_ = MakeChild(L"STATIC", SS_LEFT, kIdProgressNotice, kNoticePlace);
    if (notice_) {
      const std::wstring words = Wide(conversation_.notice());
      SetWindowTextW(notice_, words.c_str());
      // Under the bar's words, however many lines they took.
      RECT gap{0, kColumnGap, 0, kNoticePlace.top}, place;
      MapDialogRect(hwnd(), &gap);
      GetWindowRect(notice_, &place);
      MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&place), 2);
      int top = gap.bottom;
      if (stage_) {
        RECT stage;
        GetWindowRect(stage_, &stage);
        MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&stage), 2);
        top = std::max(top, static_cast<int>(stage.bottom + gap.top));
      }
      SetWindowPos(notice_, nullptr, place.left, top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      FitHeight(notice_, words, kNoticePlace);
    }
  } else {
    destroy(notice_);
  }
}

}  // namespace brivelton::win32
