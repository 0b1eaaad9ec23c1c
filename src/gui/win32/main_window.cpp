#include "gui/win32/main_window.h"

#include <utility>

#include "log/message_log.h"
#include "gui/win32/dialogs.h"
#include "resources/firmware_image.h"

namespace brivelton::win32 {

namespace {

constexpr DialogFrame kMainFrame{
    DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
    WS_EX_APPWINDOW};

HINSTANCE Module() { return GetModuleHandleA(nullptr); }

}  // namespace

MainWindow::MainWindow(Platform& platform, LineSink trace)
    : Dialog(ui::MainDialogTemplate(), kMainFrame),
      icon_(LoadIconA(Module(), MAKEINTRESOURCEA(ui::kIconAdapter))),
      // The 16-pixel image of the same icon: the system would otherwise
      // shrink the 32-pixel one for the caption and the task bar.
      small_icon_(static_cast<HICON>(LoadImageA(Module(), MAKEINTRESOURCEA(ui::kIconAdapter),
                                                IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), LR_SHARED))),
      stack_(platform, [this](const std::string& line) { AppendLog(line); }, std::move(trace)),
      logic_(*this, stack_) {
  if (!small_icon_) small_icon_ = icon_;
}

BOOL MainWindow::OnInitDialog() {
  HMENU system_menu = GetSystemMenu(hwnd(), FALSE);
  char about[256];
  if (system_menu &&
      LoadStringA(Module(), ui::kStringAbout, about, sizeof about) > 0 && about[0]) {
    AppendMenuA(system_menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(system_menu, MF_STRING, ui::kAboutCommand, about);
  }
  SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
  const std::string title = "Brivelton Utility Version: " + VersionText(BuiltInImage().version());
  SetWindowTextA(hwnd(), title.c_str());
  return TRUE;
}

bool MainWindow::OnCommand(int id, int code) {
  if (code == BN_CLICKED) {
    switch (id) {
      case kIdCheckDevice: logic_.OnCheckDevice(); return true;
      case kIdUpdateFirmware: logic_.OnUpdateFirmware(); return true;
      case kIdSetting: logic_.OnSetting(); return true;
      default: break;
    }
  }
  return Dialog::OnCommand(id, code);
}

INT_PTR MainWindow::OnMessage(UINT msg, WPARAM wp, LPARAM /*lp*/, bool& handled) {
  switch (msg) {
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
  ShowWindow(Item(id), show ? SW_SHOW : SW_HIDE);
}

void MainWindow::AppendLog(const std::string& line) {
  HWND list = Item(kIdMessageList);
  SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  const int top = LogTopIndex(count);
  if (top >= 0) SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
  // The caller goes on blocking in serial I/O: show the line now.
  UpdateWindow(list);
}

bool MainWindow::ConfirmUpdate() {
  UpdateConfirmDialog confirm;
  return confirm.DoModal(hwnd()) == IDOK;
}

void MainWindow::ShowUpdateResult(bool success) {
  UpdateResultDialog result;
  result.m_success = success;
  result.DoModal(hwnd());
}

bool MainWindow::EditSettings(SettingsValues& values) {
  SettingsValues edited = values;
  SettingsDialog settings(edited, stack_.log);
  if (settings.DoModal(hwnd()) != IDOK) return false;
  values = edited;
  return true;
}

}  // namespace brivelton::win32
