// SPDX-License-Identifier: MIT
#pragma once
// The utility's one window: a Qt face on MainDialog.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/conversation.h"
#include "app/conversation_thread.h"
#include "app/main_dialog.h"
#include "gui/qt/launcher_entry.h"
#include "gui/qt/template_dialog.h"
#include "platform/platform.h"
#include "resources/firmware_image.h"

class QAction;
class QLabel;
class QListWidget;
class QProgressBar;

namespace brivelton::qt {

class MainWindow : public TemplateDialog, public ConversationView {
  Q_OBJECT

 public:
  // `trace` takes the developer's trace; none discards it.
  // `image` is what an update writes and what the title names; it must
  // outlive the window.
  explicit MainWindow(Platform& platform, LineSink trace = {},
                      const FirmwareImage& image = BuiltInImage(), QWidget* parent = nullptr);
  ~MainWindow() override;

  ProtocolStack& stack() { return stack_; }
  QListWidget* message_list() const { return list_; }
  QAction* about_action() const { return about_; }

  void ShowButton(int id, bool show) override;
  void AppendLog(const std::string& line) override;
  bool ConfirmUpdate() override;
  void ShowUpdateResult(bool success) override;
  bool EditSettings(SettingsValues& values) override;
  AddressReply AskAddress(const std::vector<JournalEntry>& candidates) override;
  std::string HowToGiveAddress(const std::string& address) override;

  void OpenAbout();
  // While a conversation runs, a close (Escape too) waits for its end, and is
  // refused while the adapter has no firmware; the notice says which.
  void done(int result) override;
  // Whether a button's conversation is running.
  bool busy() const { return !conversation_.idle(); }
  // The update's progress bar and the stage in words under it; none outside
  // an update's flash and its result.
  QProgressBar* progress_bar() const { return progress_; }
  QLabel* stage_label() const { return stage_; }
  // The line under them: what not to do, or why the window stays open.
  QLabel* notice_label() const { return notice_; }
  ConversationThread& worker() { return worker_; }

 protected:
  void OnCommand(int id) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnWindowThread(const std::function<void()>& call) override;
  void ConversationDone(const std::string& failure);
  void AppendLine(const std::string& line);
  void Redraw() override;
  bool AddressSaved() override;
  // A close asked for by the frame, Close or Escape while a conversation runs.
  void CloseRequested();
  // Where a dialog over the window leaves the bar, its words and the notice
  // in view.
  void KeepBarInView(QWidget* dialog);

  const FirmwareImage& image_;
  ProtocolStack stack_;
  MainDialog logic_;
  QListWidget* list_ = nullptr;
  // How many rows each of the list's lines takes.
  std::vector<int> rows_;
  QAction* about_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* stage_ = nullptr;
  QLabel* notice_ = nullptr;
  LauncherEntry launcher_;
  ConversationThread worker_;
  // Set once the window is going: a conversation still running finishes
  // without dialogs, and nothing waits for the user.
  std::atomic<bool> quitting_{false};
};

// String 101 without its menu accelerator: "&About x" gives "About x", "&&" one "&".
QString StripAccelerator(const QString& text);

}  // namespace brivelton::qt
