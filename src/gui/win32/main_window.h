#pragma once
// The main window: template 102 as a modal dialog that lives as long as the
// process, and the view the main window logic talks to.
#include "app/main_dialog.h"
#include "app/main_view.h"
#include "gui/win32/dialog.h"
#include "platform/platform.h"

namespace brivelton::win32 {

class MainWindow : public Dialog, public MainView {
 public:
  // `trace` takes the developer's trace; none discards it.
  explicit MainWindow(Platform& platform, LineSink trace = {});

  void ShowButton(int id, bool show) override;
  void AppendLog(const std::string& line) override;
  bool ConfirmUpdate() override;
  void ShowUpdateResult(bool success) override;
  bool EditSettings(SettingsValues& values) override;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;
  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) override;

 private:
  void PaintIconic();

  HICON icon_;
  HICON small_icon_;
  ProtocolStack stack_;
  MainDialog logic_;
};

}  // namespace brivelton::win32
