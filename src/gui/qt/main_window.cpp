// SPDX-License-Identifier: MIT
#include "gui/qt/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QApplication>
#include <QProgressBar>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/address_form.h"
#include "app/log_rows.h"
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

// In dialog units, in the button column below Setting: the progress bar,
// its stage in words, and the line under them.
constexpr int kColumnX = 177, kColumnW = 58;
constexpr int kBarY = 80, kBarH = 10, kStageY = 92, kStageH = 8, kNoticeY = 102, kNoticeH = 48;
// The words under the bar take as many lines as they need, and the notice
// follows them this far below; both end above Close.
constexpr int kGapH = 4, kColumnBottom = 230;

constexpr int kButtons[] = {kIdCheckDevice, kIdUpdateFirmware, kIdSetting, ui::kIdCancel};

ScreenRect ScreenArea(const QWidget* window) {
  const QScreen* screen = window->screen();
  const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 14, 1 << 14);
  return {area.left(), area.top(), area.right() + 1, area.bottom() + 1};
}

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
      image_(image),
      stack_(platform, [this](const std::string& line) { AppendLog(line); }, std::move(trace),
             image),
      logic_(*this, stack_) {
  list_ = ControlAs<QListWidget>(kIdMessageList);
  MakeWrappingList(list_);
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
  // The conversation may be waiting on a call into this thread: serve its
  // calls until it has ended, or neither would ever return.
  quitting_ = true;
  while (!conversation_.idle())
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::WaitForMoreEvents);
  worker_.Join();
}

void MainWindow::OnCommand(int id) {
  // One conversation at a time; the buttons say so by being disabled.
  if (!MainDialog::HasHandler(id) || !conversation_.Start()) return;
  const auto started = worker_.Start(
      [this, id] { logic_.OnButton(id); },
      [this](const std::string& failure) {
        QMetaObject::invokeMethod(this, [this, failure] { ConversationDone(failure); },
                                  Qt::QueuedConnection);
      });
  if (!started) {
    conversation_.End();
    const std::string error = started.error().text();
    std::fprintf(stderr, "brivelton-utility: the conversation could not start: %s\n",
                 error.c_str());
    QMessageBox::warning(this, windowTitle(),
                         QStringLiteral("The conversation with the adapter could not start: ") +
                             QString::fromStdString(error));
    return;
  }
  Redraw();
}

void MainWindow::ConversationDone(const std::string& failure) {
  worker_.Join();
  if (!failure.empty()) {
    // Stopped before a verdict: the bar says so under the box.
    conversation_.GiveUp(AddressSaved());
    Redraw();
    std::fprintf(stderr, "brivelton-utility: the conversation stopped: %s\n", failure.c_str());
    if (!quitting_)
      QMessageBox::warning(this, windowTitle(),
                           QStringLiteral("The conversation with the adapter stopped: ") +
                               QString::fromStdString(failure));
  }
  // The bar stayed up under the result dialog; it goes now.
  const bool close = conversation_.End();
  if (quitting_) return;
  Redraw();
  if (close) reject();
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
  if (busy()) {
    CloseRequested();
    return;
  }
  TemplateDialog::done(result);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (busy()) {
    CloseRequested();
    event->ignore();
    return;
  }
  TemplateDialog::closeEvent(event);
}

void MainWindow::CloseRequested() {
  if (conversation_.RequestClose() == Conversation::Close::kRefused) QApplication::beep();
  Redraw();
}

bool MainWindow::AddressSaved() {
  return stack_.updater.address_kept();
}

void MainWindow::Redraw() {
  const bool idle = conversation_.idle();
  for (int id : kButtons)
    if (QWidget* button = Control(id)) button->setEnabled(idle);

  // Made when needed and gone after: outside a conversation the window is
  // exactly its template.
  const auto place = [this](QWidget* widget, int y, int h) {
    widget->setGeometry(DuToPx(kColumnX, y, kColumnW, h, units()));
    widget->show();
  };
  if (conversation_.bar_shown()) {
    if (!progress_) {
      progress_ = new QProgressBar(this);
      progress_->setRange(0, Conversation::kBarRange);
      progress_->setTextVisible(false);
      place(progress_, kBarY, kBarH);
      stage_ = new QLabel(this);
      stage_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
      stage_->setWordWrap(true);
      place(stage_, kStageY, kStageH);
    }
    progress_->setValue(conversation_.bar_value());
    // setValue repaints only once the bar has moved by the style's chunk
    // width, about 8% here: the words would run ahead of the bar.
    progress_->update();
    stage_->setText(QString::fromStdString(conversation_.bar_text()));
    stage_->resize(stage_->width(),
                   std::max(DuToPxY(kStageH, units()), stage_->heightForWidth(stage_->width())));
  } else {
    delete progress_;
    delete stage_;
    progress_ = nullptr;
    stage_ = nullptr;
  }
  if (!conversation_.notice().empty()) {
    if (!notice_) {
      notice_ = new QLabel(this);
      notice_->setWordWrap(true);
      notice_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      place(notice_, kNoticeY, kNoticeH);
    }
    notice_->setText(QString::fromStdString(conversation_.notice()));
    const int top = stage_ ? std::max(stage_->geometry().bottom() + 1 + DuToPxY(kGapH, units()),
                                      DuToPxY(kNoticeY, units()))
                           : DuToPxY(kNoticeY, units());
    const int bottom = DuToPxY(kColumnBottom, units());
    notice_->setGeometry(notice_->x(), top, notice_->width(),
                         std::max(notice_->heightForWidth(notice_->width()),
                                  std::min(DuToPxY(kNoticeH, units()), bottom - top)));
  } else {
    delete notice_;
    notice_ = nullptr;
  }
  launcher_.Show(static_cast<double>(conversation_.bar_value()) / Conversation::kBarRange,
                 conversation_.bar_shown());
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
  const QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
  list_->addItem(text);
  rows_.push_back(WrappedRows(list_, text));
  const int top = LogTopIndexOfRows(rows_);
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
  if (quitting_) return ok;
  OnWindowThread([&] {
    UpdateConfirmDialog dialog(this, image_);
    ok = dialog.exec() == QDialog::Accepted;
    repaint();
  });
  return ok;
}

void MainWindow::ShowUpdateResult(bool success) {
  if (quitting_) return;
  OnWindowThread([&] {
    UpdateResultDialog dialog(success, this);
    KeepBarInView(&dialog);
    dialog.exec();
  });
}

void MainWindow::KeepBarInView(QWidget* dialog) {
  QRect keep;
  for (QWidget* widget : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(stage_),
                          static_cast<QWidget*>(notice_)})
    if (widget) keep |= QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
  if (keep.isNull()) return;
  const QRect frame = frameGeometry();
  const ScreenRect place = PlaceClearOf(
      {frame.left(), frame.top(), frame.right() + 1, frame.bottom() + 1},
      {keep.left(), keep.top(), keep.right() + 1, keep.bottom() + 1},
      dialog->frameGeometry().width(), dialog->frameGeometry().height(), ScreenArea(this));
  dialog->move(place.left, place.top);
}

bool MainWindow::EditSettings(SettingsValues& values) {
  bool ok = false;
  if (quitting_) return ok;
  OnWindowThread([&] {
    SettingsDialog dialog(values, stack_.log, this);
    ok = dialog.exec() == QDialog::Accepted;
    repaint();
    if (ok) values = dialog.values();
  });
  return ok;
}

AddressReply MainWindow::AskAddress(const std::vector<JournalEntry>& candidates) {
  // A window that is going erases nothing it was not told to.
  AddressReply reply{AddressAnswer::kCancel, {}};
  if (quitting_) return reply;
  OnWindowThread([&] {
    AddressDialog dialog(candidates, this);
    dialog.exec();
    repaint();
    reply = dialog.reply();
  });
  return reply;
}

std::string MainWindow::HowToGiveAddress(const std::string& address) {
  return WindowAddressRemedy(address);
}

void MainWindow::OpenAbout() {
  AboutDialog dialog(this, image_);
  dialog.exec();
}

}  // namespace brivelton::qt
