// SPDX-License-Identifier: MIT
#pragma once
// The main window: template 102 as a modal dialog that lives as long as the
// process, and the view the main window logic talks to.
#include <functional>
#include <string>
#include <vector>

#include "app/conversation.h"
#include "app/conversation_thread.h"
#include "app/main_dialog.h"
#include "app/main_view.h"
#include "gui/win32/dialog.h"
#include "platform/platform.h"
#include "resources/firmware_image.h"

struct ITaskbarList3;

namespace brivelton::win32 {

class MainWindow : public Dialog, public ConversationView {
 public:
  // `trace` takes the developer's trace; none discards it.
  // `image` is what an update writes and what the title names; it must
  // outlive the window.
  explicit MainWindow(Platform& platform, LineSink trace = {},
                      const FirmwareImage& image = BuiltInImage());

  void ShowButton(int id, bool show) override;
  void AppendLog(const std::string& line) override;
  bool ConfirmUpdate() override;
  void ShowUpdateResult(bool success) override;
  bool EditSettings(SettingsValues& values) override;
  AddressReply AskAddress(const std::vector<JournalEntry>& candidates) override;
  std::string HowToGiveAddress(const std::string& address) override;

  ~MainWindow() override;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code) override;
  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) override;

 private:
  void PaintIconic();
  // Runs a button's handler on the conversation thread, so that the window
  // keeps answering the system, repaints, and takes no input meanwhile.
  void StartConversation(int id);
  void ConversationDone();
  void OnWindowThread(const std::function<void()>& call) override;
  void Redraw() override;
  bool AddressSaved() override;
  // A close asked for by the frame or Escape while a conversation runs.
  void CloseRequested();
  // The message list's rows for `line`, as wide as the list draws them.
  std::vector<std::string> ListRows(const std::string& line);
  void DrawListLine(const DRAWITEMSTRUCT& item);

  HICON icon_;
  HICON small_icon_;
  const FirmwareImage& image_;
  ProtocolStack stack_;
  MainDialog logic_;
  DWORD window_thread_ = 0;
  ConversationThread worker_;
  // What stopped the last conversation; written before its end is posted.
  std::string failure_;
  HWND progress_ = nullptr;
  HWND stage_ = nullptr;
  HWND notice_ = nullptr;
  // How many rows each line of the message list takes, and the line being
  // added (its height is asked for while it goes in).
  std::vector<int> rows_;
  std::string adding_;
  ::ITaskbarList3* taskbar_ = nullptr;
};

}  // namespace brivelton::win32
