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
  explicit MainWindow(Platform& platform, QWidget* parent = nullptr);

  MainDialog& logic() { return logic_; }
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
  MainDialog logic_;
  QListWidget* list_ = nullptr;
  QAction* about_ = nullptr;
};

// String 101 without its menu accelerator: "&About x" gives "About x", "&&" one "&".
QString StripAccelerator(const QString& text);

}  // namespace brivelton::qt
