#pragma once
// The utility's one window: a Qt face on MainDialog.
#include <string>

#include "app/main_dialog.h"
#include "gui/qt/template_dialog.h"
#include "platform/platform.h"

class QAction;
class QListWidget;

namespace brivelton::qt {

class MainWindow : public TemplateDialog, public MainView {
  Q_OBJECT

 public:
  // `trace` takes the developer's trace; none discards it.
  explicit MainWindow(Platform& platform, LineSink trace = {}, QWidget* parent = nullptr);

  ProtocolStack& stack() { return stack_; }
  QListWidget* message_list() const { return list_; }
  QAction* about_action() const { return about_; }

  void ShowButton(int id, bool show) override;
  void AppendLog(const std::string& line) override;
  bool ConfirmUpdate() override;
  void ShowUpdateResult(bool success) override;
  bool EditSettings(SettingsValues& values) override;

  void OpenAbout();

 protected:
  void OnCommand(int id) override;

 private:
  ProtocolStack stack_;
  MainDialog logic_;
  QListWidget* list_ = nullptr;
  QAction* about_ = nullptr;
};

// String 101 without its menu accelerator: "&About x" gives "About x", "&&" one "&".
QString StripAccelerator(const QString& text);

}  // namespace brivelton::qt
