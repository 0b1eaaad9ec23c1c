#include "gui/qt/main_window.h"

#include <QAction>
#include <QListWidget>
#include <utility>

#include "log/message_log.h"
#include "gui/qt/adapter_icon.h"
#include "gui/qt/dialogs.h"
#include "resources/firmware_image.h"

namespace brivelton::qt {

namespace {

// A fixed frame with caption, system menu and minimize box, no maximize box,
// on the task bar as an application window.
constexpr Qt::WindowFlags kMainFlags = Qt::Window | Qt::CustomizeWindowHint |
                                       Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                       Qt::WindowMinimizeButtonHint |
                                       Qt::WindowCloseButtonHint;

}  // namespace

QString StripAccelerator(const QString& text) {
  QString out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'&' && i + 1 < text.size()) ++i;
    else if (text[i] == u'&') continue;
    out += text[i];
  }
  return out;
}

MainWindow::MainWindow(Platform& platform, LineSink trace, QWidget* parent)
    : TemplateDialog(ui::MainDialogTemplate(), parent, kMainFlags),
      stack_(platform, [this](const std::string& line) { AppendLog(line); }, std::move(trace)),
      logic_(*this, stack_) {
  list_ = ControlAs<QListWidget>(kIdMessageList);
  setWindowIcon(AdapterIcon());
  setWindowTitle(QStringLiteral("Brivelton Utility Version: ") +
                 QString::fromStdString(VersionText(BuiltInImage().version())));

  // Linux has no system menu to extend: the About entry goes to the window's
  // context menu, with F1 as its key. Qt menus read "&" as Windows menus do.
  const QString about_text = QString::fromUtf8(ui::AboutMenuText());
  if (!StripAccelerator(about_text).isEmpty()) {
    about_ = new QAction(about_text, this);
    about_->setShortcut(QKeySequence(Qt::Key_F1));
    about_->setShortcutContext(Qt::WindowShortcut);
    connect(about_, &QAction::triggered, this, &MainWindow::OpenAbout);
    addAction(about_);
    setContextMenuPolicy(Qt::ActionsContextMenu);
  }
}

void MainWindow::OnCommand(int id) {
  switch (id) {
    case kIdCheckDevice: logic_.OnCheckDevice(); break;
    case kIdUpdateFirmware: logic_.OnUpdateFirmware(); break;
    case kIdSetting: logic_.OnSetting(); break;
    default: break;
  }
}

void MainWindow::ShowButton(int id, bool show) {
  if (QWidget* button = Control(id)) button->setVisible(show);
}

void MainWindow::AppendLog(const std::string& line) {
  list_->addItem(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
  const int top = LogTopIndex(list_->count());
  if (top >= 0) list_->scrollToItem(list_->item(top), QAbstractItemView::PositionAtTop);
  // The caller goes on blocking in serial I/O: paint now, not from the event
  // loop. The rows live in the viewport, which a repaint of the frame alone
  // leaves as it was.
  list_->repaint();
  list_->viewport()->repaint();
}

// The handler goes on blocking after a dialog closes: without a compositor
// the place the dialog covered stays stale unless the window repaints now.
bool MainWindow::ConfirmUpdate() {
  UpdateConfirmDialog dialog(this);
  const bool ok = dialog.exec() == QDialog::Accepted;
  repaint();
  return ok;
}

void MainWindow::ShowUpdateResult(bool success) {
  UpdateResultDialog dialog(success, this);
  dialog.exec();
}

bool MainWindow::EditSettings(SettingsValues& values) {
  SettingsDialog dialog(values, stack_.log, this);
  const bool ok = dialog.exec() == QDialog::Accepted;
  repaint();
  if (ok) values = dialog.values();
  return ok;
}

void MainWindow::OpenAbout() {
  AboutDialog dialog(this);
  dialog.exec();
}

}  // namespace brivelton::qt
