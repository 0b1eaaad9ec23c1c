#pragma once
// The utility's one window: a Qt face on MainDialog.
#include <functional>
#include <string>
#include <thread>

#include "app/main_dialog.h"
#include "gui/qt/template_dialog.h"
#include "platform/platform.h"
#include "resources/firmware_image.h"

class QAction;
class QListWidget;
class QProgressBar;

namespace brivelton::qt {

class MainWindow : public TemplateDialog, public MainView {
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
  void UpdateProgress(UpdateStage stage, int done, int total) override;
  void FlashBegins() override;
  void FlashEnds(bool verified) override;

  void OpenAbout();
  // Ignored while a conversation runs: closing waits for it to end, and is
  // refused while the flash is erased and written.
  void done(int result) override;
  // Whether a button's conversation is running.
  bool busy() const { return busy_; }
  // The update's progress bar; none outside the erase and write.
  QProgressBar* progress_bar() const { return progress_; }

 protected:
  void OnCommand(int id) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Runs `call` on the window's thread, and returns when it is done there.
  void OnWindowThread(const std::function<void()>& call);
  void ConversationDone();
  void AppendLine(const std::string& line);

  ProtocolStack stack_;
  MainDialog logic_;
  QListWidget* list_ = nullptr;
  QAction* about_ = nullptr;
  QProgressBar* progress_ = nullptr;
  // Each conversation runs here, so that the window keeps answering, repaints
  // and takes no input meanwhile.
  std::thread conversation_;
  bool busy_ = false;
  bool flashing_ = false;
  bool close_when_done_ = false;
};

// String 101 without its menu accelerator: "&About x" gives "About x", "&&" one "&".
QString StripAccelerator(const QString& text);

}  // namespace brivelton::qt
