#include "gui/win32/main_window.h"

#include <commctrl.h>
#include <shobjidl.h>

#include <utility>

#include "gui/win32/dialogs.h"
#include "gui/win32/window_messages.h"
#include "log/message_log.h"
#include "resources/firmware_image.h"

namespace brivelton::win32 {

namespace {

constexpr DialogFrame kMainFrame{
    DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
    WS_EX_APPWINDOW};

HINSTANCE Module() { return GetModuleHandleA(nullptr); }

// The progress bar's scale: the 30 erase blocks, then the 125 pages.
constexpr int kEraseSteps = 30;
constexpr int kProgressSteps = kEraseSteps + 125;

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
  if (conversation_.joinable()) conversation_.join();
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
  // One conversation at a time: clicks, Enter and Escape wait for its end.
  if (busy_) return true;
  if (code == BN_CLICKED && MainDialog::HasHandler(id)) {
    StartConversation(id);
    return true;
  }
  return Dialog::OnCommand(id, code);
}

void MainWindow::StartConversation(int id) {
  busy_ = true;
  if (conversation_.joinable()) conversation_.join();
  conversation_ = std::thread([this, id] {
    logic_.OnButton(id);
    PostMessageW(hwnd(), kConversationDone, 0, 0);
  });
}

void MainWindow::ConversationDone() {
  if (conversation_.joinable()) conversation_.join();
  busy_ = false;
  if (close_when_done_) End(IDCANCEL);
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
      SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, busy_ ? 1 : 0);
      return TRUE;
    case WM_CLOSE:
      if (!busy_) break;
      // Never while the flash is erased and written; otherwise once the
      // conversation reaches its end.
      if (flashing_)
        MessageBeep(MB_ICONWARNING);
      else
        close_when_done_ = true;
      handled = true;
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) != ui::kAboutCommand) break;
      {
        AboutDialog about;
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
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    const int top = LogTopIndex(count);
    if (top >= 0) SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
    UpdateWindow(list);
  });
}

bool MainWindow::ConfirmUpdate() {
  bool ok = false;
  OnWindowThread([&] {
    UpdateConfirmDialog confirm;
    ok = confirm.DoModal(hwnd()) == IDOK;
  });
  return ok;
}

void MainWindow::ShowUpdateResult(bool success) {
  OnWindowThread([&] {
    UpdateResultDialog result;
    result.m_success = success;
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

void MainWindow::FlashBegins() {
  OnWindowThread([&] {
    flashing_ = true;
    // Made for the span and gone after it: outside it the window is exactly
    // its template.
    RECT place = kProgressPlace;
    MapDialogRect(hwnd(), &place);
    progress_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH,
                                place.left, place.top, place.right - place.left,
                                place.bottom - place.top, hwnd(), nullptr, Module(), nullptr);
    if (progress_) SendMessageW(progress_, PBM_SETRANGE32, 0, kProgressSteps);
    if (taskbar_) taskbar_->SetProgressState(hwnd(), TBPF_NORMAL);
    ShowProgress(0);
  });
}

void MainWindow::UpdateProgress(UpdateStage stage, int done, int /*total*/) {
  if (stage == UpdateStage::kVerify) return;
  const int value = stage == UpdateStage::kErase ? done : kEraseSteps + done;
  OnWindowThread([&] { ShowProgress(value); });
}

void MainWindow::ShowProgress(int value) {
  if (progress_) {
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(value), 0);
    UpdateWindow(progress_);
  }
  if (taskbar_)
    taskbar_->SetProgressValue(hwnd(), static_cast<ULONGLONG>(value), kProgressSteps);
}

void MainWindow::FlashEnds(bool /*verified*/) {
  OnWindowThread([&] {
    flashing_ = false;
    if (progress_) DestroyWindow(progress_);
    progress_ = nullptr;
    if (taskbar_) taskbar_->SetProgressState(hwnd(), TBPF_NOPROGRESS);
  });
}

}  // namespace brivelton::win32
