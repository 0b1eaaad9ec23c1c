#include "gui/qt/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QListWidget>
#include <QProgressBar>
#include <QThread>
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

// The progress bar's place in dialog units, in the button column below
// Setting, and its scale: the 30 erase blocks, then the 125 pages.
constexpr int kProgressX = 177, kProgressY = 80, kProgressW = 58, kProgressH = 10;
constexpr int kEraseSteps = 30;
constexpr int kProgressSteps = kEraseSteps + 125;

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

MainWindow::MainWindow(Platform& platform, LineSink trace, const FirmwareImage& image,
                       QWidget* parent)
    : TemplateDialog(ui::MainDialogTemplate(), parent, kMainFlags),
      stack_(platform, [this](const std::string& line) { AppendLog(line); }, std::move(trace),
             image),
      logic_(*this, stack_) {
  list_ = ControlAs<QListWidget>(kIdMessageList);
  setWindowIcon(AdapterIcon());
  setWindowTitle(QStringLiteral("Brivelton Utility Version: ") +
                 QString::fromStdString(VersionText(image.version())));

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

MainWindow::~MainWindow() {
  if (conversation_.joinable()) conversation_.join();
}

void MainWindow::OnCommand(int id) {
  // One conversation at a time; clicks and keys wait for its end.
  if (busy_) return;
  if (!MainDialog::HasHandler(id)) return;
  busy_ = true;
  if (conversation_.joinable()) conversation_.join();
  conversation_ = std::thread([this, id] {
    logic_.OnButton(id);
    QMetaObject::invokeMethod(this, [this] { ConversationDone(); }, Qt::QueuedConnection);
  });
}

void MainWindow::ConversationDone() {
  if (conversation_.joinable()) conversation_.join();
  busy_ = false;
  if (close_when_done_) reject();
}

void MainWindow::OnWindowThread(const std::function<void()>& call) {
  if (QThread::currentThread() == thread()) {
    call();
    return;
  }
  // Blocking: the conversation goes on once the window has done the call, so
  // log lines and dialogs keep their order.
  QMetaObject::invokeMethod(this, [&call] { call(); }, Qt::BlockingQueuedConnection);
}

void MainWindow::done(int result) {
  if (busy_) return;
  TemplateDialog::done(result);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (busy_) {
    if (!flashing_) close_when_done_ = true;
    event->ignore();
    return;
  }
  TemplateDialog::closeEvent(event);
}

void MainWindow::ShowButton(int id, bool show) {
  OnWindowThread([&] {
    if (QWidget* button = Control(id)) button->setVisible(show);
  });
}

void MainWindow::AppendLog(const std::string& line) {
  OnWindowThread([&] { AppendLine(line); });
}

void MainWindow::AppendLine(const std::string& line) {
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
  bool ok = false;
  OnWindowThread([&] {
    UpdateConfirmDialog dialog(this);
    ok = dialog.exec() == QDialog::Accepted;
    repaint();
  });
  return ok;
}

void MainWindow::ShowUpdateResult(bool success) {
  OnWindowThread([&] {
    UpdateResultDialog dialog(success, this);
    dialog.exec();
  });
}

bool MainWindow::EditSettings(SettingsValues& values) {
  bool ok = false;
  OnWindowThread([&] {
    SettingsDialog dialog(values, stack_.log, this);
    ok = dialog.exec() == QDialog::Accepted;
    repaint();
    if (ok) values = dialog.values();
  });
  return ok;
}

void MainWindow::FlashBegins() {
  OnWindowThread([&] {
    flashing_ = true;
    // Made for the span and gone after it: outside it the window is exactly
    // its template.
    progress_ = new QProgressBar(this);
    progress_->setGeometry(DuToPx(kProgressX, kProgressY, kProgressW, kProgressH, units()));
    progress_->setRange(0, kProgressSteps);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    progress_->show();
  });
}

void MainWindow::UpdateProgress(UpdateStage stage, int done, int /*total*/) {
  if (stage == UpdateStage::kVerify) return;
  const int value = stage == UpdateStage::kErase ? done : kEraseSteps + done;
  OnWindowThread([&] {
    if (progress_) progress_->setValue(value);
  });
}

void MainWindow::FlashEnds(bool /*verified*/) {
  OnWindowThread([&] {
    flashing_ = false;
    delete progress_;
    progress_ = nullptr;
  });
}

void MainWindow::OpenAbout() {
  AboutDialog dialog(this);
  dialog.exec();
}

}  // namespace brivelton::qt
