// SPDX-License-Identifier: MIT
// The real window against the simulated adapter on a virtual port and virtual
// time: each session is also run through a plain recording view on an
// identical adapter, and the window must show exactly the same lines and
// leave the adapter in exactly the same state.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "app/address_form.h"
#include "log/message_log.h"
#include "gui/qt/dialogs.h"
#include "gui/qt/main_window.h"
#include "params/settings_data.h"
#include "support/failure_of.h"
#include "support/memory_state_store.h"
#include "qt_driver.h"
#include "sim/virtual_adapter.h"
#include "support/host_bench.h"
#include "support/recording_view.h"
#include "resources/firmware_image.h"
#include "update/identity_journal.h"

namespace brivelton::testing {
namespace {

using qt::MainWindow;

// Whether the journal in `store` holds an entry for `address`.
bool JournalKeeps(StateStore& store, const BtAddressBytes& address) {
  const auto entries = IdentityJournal(store).Read().entries;
  return std::any_of(entries.begin(), entries.end(),
                     [&](const JournalEntry& entry) { return entry.address == address; });
}

constexpr const char* kSilentPort = "/dev/ttyS0";
constexpr const char* kAdapterPort = "/dev/ttyUSB0";

QString Artefact(const char* name) {
  return QStringLiteral(BRIVELTON_QT_ARTEFACT_DIR "/") + QString::fromLatin1(name);
}

std::string AvailableLine() {
  char line[64];
  std::snprintf(line, sizeof line, " Available Firmware for update = %03X", BuiltInImage().version());
  return line;
}

// One adapter behind a virtual port, and a silent port listed before it.
struct Bench : testing::HostBench {
  explicit Bench(const sim::AdapterConfig& config)
      : HostBench(kAdapterPort), adapter(Adapter(config, kAdapterPort)) {
    virtual_ports.AddPort(kSilentPort, nullptr);
    list.SetPorts({kSilentPort, kAdapterPort});
    AfterCheckDevice({.port = {}});
  }
  sim::VirtualAdapter& adapter;
};

std::vector<uint32_t> Params(sim::DeviceModel& model) {
  std::vector<uint32_t> values;
  for (int op = 1; op <= 10; ++op) values.push_back(model.param(op));
  return values;
}

class QtSimSessionTest : public ::testing::Test {
 protected:
  // The Qt window on `bench_`, shown as a user would see it.
  void Open(const sim::AdapterConfig& config, const FirmwareImage& image = BuiltInImage(),
            StateStore* journal = nullptr) {
    bench_ = std::make_unique<Bench>(config);
    bench_->platform.state = journal;
    window_ = std::make_unique<MainWindow>(bench_->platform, trace_.sink(), image);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  // A click, and the conversation it starts run to its end; the window's
  // event loop runs meanwhile, as a user's would.
  void Press(int id) {
    QWidget* button = window_->Control(id);
    ASSERT_TRUE(button->isVisible()) << id;
    Click(button);
    WaitIdle();
  }
  void WaitIdle() {
    const QDeadlineTimer deadline(60000);
    while (window_->busy() && !deadline.hasExpired()) QTest::qWait(1);
    ASSERT_FALSE(window_->busy()) << "the conversation did not end";
  }
  std::vector<std::string> Log() const { return Lines(window_->message_list()); }

  // The same session through the recording view on a fresh, identical adapter.
  struct Reference {
    std::unique_ptr<Bench> bench;
    RecordingView& view;
    MainDialog& logic;
  };
  std::unique_ptr<Reference> RunReference(const sim::AdapterConfig& config,
                                          const std::function<void(Reference&)>& session) {
    auto bench = std::make_unique<Bench>(config);
    RecordingView& view = bench->view;
    MainDialog& logic = bench->dialog();
    auto ref = std::make_unique<Reference>(Reference{std::move(bench), view, logic});
    session(*ref);
    return ref;
  }

  testing::TraceCapture trace_;
  std::unique_ptr<Bench> bench_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(QtSimSessionTest, CheckDeviceShowsEveryLineAsItIsLogged) {
  Open({});
  class PaintRecorder : public QObject {
   public:
    explicit PaintRecorder(QListWidget* list) : list_(list) { list->viewport()->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) painted.push_back(list_->count());
      return false;
    }
    std::vector<int> painted;
    QListWidget* list_;
  } paints(window_->message_list());

  Press(kIdCheckDevice);

  const auto ref = RunReference({}, [](Reference& r) { r.logic.OnCheckDevice(); });
  const std::vector<std::string> log = Log();
  EXPECT_EQ(log, ref->view.log);
  const std::vector<std::string> want = {
      " Search Device ...",
      " Found device on /dev/ttyUSB0",
      " Device Firmware Version = 1FF",
      AvailableLine(),
      " ",
      " There is newer firmware available.",
      " Click \"Update\" to update.",
      " Update firmware before set parameters.",
      " "};
  EXPECT_EQ(log, want);
  // The handler never returned to the event loop, yet each line was painted
  // as soon as it was in the list.
  for (int n = 1; n <= static_cast<int>(log.size()); ++n)
    EXPECT_NE(std::find(paints.painted.begin(), paints.painted.end(), n), paints.painted.end()) << n;

  EXPECT_TRUE(window_->Control(kIdUpdateFirmware)->isVisible());
  EXPECT_TRUE(window_->Control(kIdSetting)->isVisible());
  EXPECT_EQ(window_->stack().facts.DeviceVersion, 0x1FF);

  const QPixmap shot = window_->grab();
  EXPECT_EQ(shot.size(), QSize(498, 478));  // 249 x 255 dialog units
  EXPECT_TRUE(shot.save(Artefact("main_after_check_device.png")));
}

TEST_F(QtSimSessionTest, CheckDeviceWithoutAdapterHidesTheButtonsAgain) {
  Open({});
  Press(kIdCheckDevice);
  ASSERT_TRUE(window_->Control(kIdSetting)->isVisible());
  bench_->adapter.model().config().faults.silent = true;
  const size_t before = Log().size();
  Press(kIdCheckDevice);
  const std::vector<std::string> log = Log();
  ASSERT_GE(log.size(), before + 3);
  EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
            (std::vector<std::string>{" ", " Please check device connection.", " "}));
  EXPECT_FALSE(window_->Control(kIdUpdateFirmware)->isVisible());
  EXPECT_FALSE(window_->Control(kIdSetting)->isVisible());
}

TEST_F(QtSimSessionTest, UpdateConfirmedFlashesTheBuiltInImage) {
  const sim::AdapterConfig config;
  Open(config);
  Press(kIdCheckDevice);
  std::vector<std::string> result_text;
  WhenModal<qt::UpdateConfirmDialog>(
      window_.get(), [](qt::UpdateConfirmDialog* d) { Click(d->Control(ui::kIdUpdateOk)); });
  WhenModal<qt::UpdateResultDialog>(window_.get(), [&](qt::UpdateResultDialog* d) {
    result_text.push_back(d->ControlAs<QLabel>(ui::kIdResultText)->text().toStdString());
    Click(d->Control(ui::kIdOk));
  });
  Press(kIdUpdateFirmware);

  EXPECT_EQ(result_text, std::vector<std::string>{"Firmware update done. Please re-pair device."});
  const auto flash = bench_->adapter.model().flash();
  const std::vector<uint8_t> want = sim::FlashAfterUpdate(config.bt_address);
  ASSERT_EQ(flash.size(), want.size());
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), want.begin()));
  EXPECT_EQ(window_->stack().facts.DeviceVersion, static_cast<int>(BuiltInImage().version()));

  const auto ref = RunReference(config, [](Reference& r) {
    r.logic.OnCheckDevice();
    r.logic.OnUpdateFirmware();
  });
  EXPECT_EQ(ref->view.results, std::vector<bool>{true});
  EXPECT_EQ(Log(), ref->view.log);
  const std::vector<std::string> log = Log();
  EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()),
            (std::vector<std::string>{" Reboot MCU ", " ", " Success ", " "}));
}

const std::string kUnplug = "Do not unplug the adapter or close this window.";
const std::string kRefused =
    "The window stays open while the flash is rewritten: closing now would leave "
    "the adapter without firmware.";

// While an update runs the window's event loop keeps going: timers fire,
// paint events are delivered, and the bar below Setting says the stage and a
// percentage that only grows, with the line that asks not to unplug. Every
// button is disabled, a close says why it is refused, and the bar stays at
// "Done" under the result dialog and goes with it.
TEST_F(QtSimSessionTest, UpdateShowsItsProgressInWordsAndRefusesToClose) {
  const sim::AdapterConfig config;
  Open(config);
  Press(kIdCheckDevice);
  // Each step takes a little real time, so that the event loop gets turns
  // while the flash is written, as it does with a real adapter.
  window_->stack().updater.options().progress = [this](UpdateStage stage, int done, int total) {
    window_->UpdateProgress(stage, done, total);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  };

  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  window_->installEventFilter(&counter);
  const QRegularExpression stage_words(QStringLiteral("^(Erasing|Writing) (\\d+)%$"));
  int ticks_while_writing = 0, paints_while_writing = 0, bar_value = 0, percent = 0;
  std::vector<std::string> stages;
  bool poked = false;
  QTimer ticker;
  ticker.setInterval(5);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    QProgressBar* bar = window_->progress_bar();
    if (!bar) return;
    ++ticks_while_writing;
    for (int id : {kIdCheckDevice, kIdUpdateFirmware, kIdSetting, ui::kIdCancel})
      EXPECT_FALSE(window_->Control(id)->isEnabled()) << id;
    ASSERT_NE(window_->stage_label(), nullptr);
    const QString words = window_->stage_label()->text();
    const auto match = stage_words.match(words);
    if (match.hasMatch()) {
      EXPECT_GE(match.captured(2).toInt(), percent) << words.toStdString();
      percent = match.captured(2).toInt();
      if (stages.empty() || stages.back() != match.captured(1).toStdString())
        stages.push_back(match.captured(1).toStdString());
    } else {
      EXPECT_TRUE(words == QStringLiteral("Verifying") || words == QStringLiteral("Done"))
          << words.toStdString();
    }
    EXPECT_GE(bar->value(), bar_value);
    bar_value = bar->value();
    // Once the flash has ended, nothing more to warn of.
    const bool flashing = words != QStringLiteral("Done");
    EXPECT_EQ(window_->notice_label() != nullptr, flashing);
    if (flashing && !poked) {
      EXPECT_EQ(window_->notice_label()->text().toStdString(), kUnplug);
    }
    const int before = counter.paints;
    window_->update();
    QApplication::processEvents();
    paints_while_writing += counter.paints - before;
    if (!poked && percent > 50) {
      poked = true;
      // In the button column, just below Setting.
      const QRect setting = window_->Control(kIdSetting)->geometry();
      EXPECT_EQ(bar->x(), setting.x());
      EXPECT_EQ(bar->width(), setting.width());
      EXPECT_GT(bar->y(), setting.bottom());
      EXPECT_LT(bar->y(), setting.bottom() + setting.height());
      EXPECT_GT(window_->stage_label()->y(), bar->geometry().bottom());
      EXPECT_GT(window_->notice_label()->y(), window_->stage_label()->geometry().bottom());
      EXPECT_TRUE(window_->grab().save(Artefact("main_progress.png")));
      Click(window_->Control(kIdCheckDevice));
      QTest::keyClick(window_->message_list(), Qt::Key_Escape);
      window_->close();
      EXPECT_EQ(window_->notice_label()->text().toStdString(), kRefused);
      EXPECT_TRUE(window_->grab().save(Artefact("main_close_refused.png")));
    }
  });
  ticker.start();
  WhenModal<qt::UpdateConfirmDialog>(
      window_.get(), [](qt::UpdateConfirmDialog* d) { Click(d->Control(ui::kIdUpdateOk)); });
  std::string under_result;
  WhenModal<qt::UpdateResultDialog>(window_.get(), [&](qt::UpdateResultDialog* d) {
    if (QProgressBar* bar = window_->progress_bar()) {
      EXPECT_EQ(bar->value(), bar->maximum());
      under_result = window_->stage_label()->text().toStdString();
    }
    Click(d->Control(ui::kIdOk));
  });
  Press(kIdUpdateFirmware);
  ticker.stop();

  EXPECT_TRUE(poked);
  EXPECT_GT(ticks_while_writing, 10);
  EXPECT_GT(paints_while_writing, 0);
  EXPECT_EQ(stages, (std::vector<std::string>{"Erasing", "Writing"}));
  EXPECT_EQ(under_result, "Done");
  EXPECT_EQ(window_->progress_bar(), nullptr);
  EXPECT_EQ(window_->stage_label(), nullptr);
  EXPECT_EQ(window_->notice_label(), nullptr);
  for (int id : {kIdCheckDevice, kIdUpdateFirmware, kIdSetting, ui::kIdCancel})
    EXPECT_TRUE(window_->Control(id)->isEnabled()) << id;
  // Neither the click nor Escape nor the close did anything: one search, one
  // update, and the window still open.
  EXPECT_TRUE(window_->isVisible());
  const auto ref = RunReference(config, [](Reference& r) {
    r.logic.OnCheckDevice();
    r.logic.OnUpdateFirmware();
  });
  EXPECT_EQ(Log(), ref->view.log);
  const auto flash = bench_->adapter.model().flash();
  const std::vector<uint8_t> want = sim::FlashAfterUpdate(config.bt_address);
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), want.begin(), want.end()));
}

// What the window shows at an attempt's event, once it has drawn it.
struct Drawn {
  std::string words, notice;
  int bar = -1;
};

// The whole story of an update whose every checksum is wrong, on an adapter
// whose blank page takes its address from the journal: in each pause the
// failure in words and the next attempt's empty bar, with the warning still
// up and a close (Escape too) refused; "Failed" only after the last, with
// what the adapter has lost and what to do; the result dialog beside the
// bar; and the long log line that names the address in rows, all of it.
TEST_F(QtSimSessionTest, FailedAttemptsSayWhatFailedAndWhatComesNext) {
  sim::AdapterConfig config;
  config.blank_identity = true;
  config.faults.wrong_checksum = true;
  const BtAddressBytes address = {0x5A, 0x1B, 0x3C, 0x4D, 0x5E, 0x6F};
  MemoryStateStore store;
  JournalEntry entry;
  entry.port = kAdapterPort;
  entry.address = address;
  entry.saved = "2026-12-10T11:00:00Z";
  ASSERT_EQ(FailureOf(IdentityJournal(store).Save(entry)), "");
  Open(config, BuiltInImage(), &store);
  Press(kIdCheckDevice);

  std::map<std::pair<int, int>, Drawn> shown;  // by kind and attempt
  QRect keep;
  MainWindow* window = window_.get();
  window->stack().updater.options().attempts = [&](const AttemptEvent& event) {
    window->ReportAttempt(event);
    QMetaObject::invokeMethod(
        window,
        [&] {
          Drawn now;
          if (window->stage_label()) now.words = window->stage_label()->text().toStdString();
          if (window->notice_label()) now.notice = window->notice_label()->text().toStdString();
          if (window->progress_bar()) now.bar = window->progress_bar()->value();
          shown[{static_cast<int>(event.kind), event.attempt}] = now;
          if (event.kind == AttemptEvent::Kind::kFailed && event.attempt == 1) {
            EXPECT_TRUE(window->grab().save(Artefact("main_attempt_failed.png")));
            QTest::keyClick(window->message_list(), Qt::Key_Escape);
            shown[{-1, 1}].notice =
                window->notice_label() ? window->notice_label()->text().toStdString() : "";
            EXPECT_TRUE(window->isVisible());
          }
          if (event.kind == AttemptEvent::Kind::kGaveUp)
            for (QWidget* w : {static_cast<QWidget*>(window->progress_bar()),
                               static_cast<QWidget*>(window->stage_label()),
                               static_cast<QWidget*>(window->notice_label())})
              if (w) keep |= QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
        },
        Qt::BlockingQueuedConnection);
  };
  WhenModal<qt::UpdateConfirmDialog>(
      window, [](qt::UpdateConfirmDialog* d) { Click(d->Control(ui::kIdUpdateOk)); });
  QRect result_place;
  WhenModal<qt::UpdateResultDialog>(window, [&](qt::UpdateResultDialog* d) {
    result_place = d->frameGeometry();
    QPixmap shot = window->grab();
    QPainter painter(&shot);
    painter.drawPixmap(d->mapToGlobal(QPoint(0, 0)) - window->mapToGlobal(QPoint(0, 0)),
                       d->grab());
    painter.end();
    EXPECT_TRUE(shot.save(Artefact("main_update_failed.png")));
    Click(d->Control(ui::kIdOk));
  });
  Press(kIdUpdateFirmware);

  using K = AttemptEvent::Kind;
  const auto at = [&](K kind, int attempt) { return shown[{static_cast<int>(kind), attempt}]; };
  const std::string unplug = "Do not unplug the adapter or close this window.";
  EXPECT_EQ(at(K::kFailed, 1).words,
            "Attempt 1 of 20 failed: the checksum did not match. Trying again in 3 s.");
  EXPECT_EQ(at(K::kFailed, 1).notice, unplug);
  EXPECT_EQ(at(K::kFailed, 1).bar, 0);
  EXPECT_EQ((shown[{-1, 1}].notice), kRefused);
  EXPECT_EQ(at(K::kBegins, 2).words, "Attempt 2 of 20: starting");
  EXPECT_EQ(at(K::kFailed, 19).words,
            "Attempt 19 of 20 failed: the checksum did not match. Trying again in 3 s.");
  EXPECT_EQ(at(K::kFailed, 19).notice, unplug);
  // The last failure is the one that says "Failed".
  for (int n = 1; n < 20; ++n) EXPECT_NE(at(K::kFailed, n).words, "Failed") << n;
  EXPECT_EQ(at(K::kGaveUp, 20).words, "Failed");
  EXPECT_EQ(at(K::kGaveUp, 20).notice,
            "The adapter has no working firmware. Its address is saved on this PC: press "
            "Update Firmware again.");
  EXPECT_TRUE(JournalKeeps(store, address));
  ASSERT_FALSE(keep.isNull());
  ASSERT_FALSE(result_place.isNull());
  EXPECT_FALSE(result_place.intersects(keep));
  EXPECT_EQ(window->progress_bar(), nullptr);

  // The line that names the address, in rows of the list, the address whole
  // in one of them.
  const std::vector<std::string> log = Log();
  const auto line = std::find_if(log.begin(), log.end(), [](const std::string& l) {
    return l.rfind(" Identity page blank: restored address 5A:1B:3C:4D:5E:6F", 0) == 0;
  });
  ASSERT_NE(line, log.end());
  QListWidget* list = window->message_list();
  QListWidgetItem* item = list->item(static_cast<int>(line - log.begin()));
  const int rows = qt::WrappedRows(list, item->text());
  EXPECT_GE(rows, 2);
  EXPECT_EQ(list->visualItemRect(item).height(), rows * list->fontMetrics().height());
  EXPECT_LE(list->fontMetrics().horizontalAdvance(QStringLiteral(" Identity page blank: restored")),
            list->viewport()->width());
}

// A close asked for before the flash starts waits for the conversation's end,
// and the line says so meanwhile.
TEST_F(QtSimSessionTest, CloseDuringCheckDeviceHappensAtItsEnd) {
  Open({});
  std::string notice;
  window_->stack().updater.options().progress = {};
  bench_->adapter.model().config().faults.silent = true;
  Click(window_->Control(kIdCheckDevice));
  ASSERT_TRUE(window_->busy());
  window_->close();
  if (window_->notice_label()) notice = window_->notice_label()->text().toStdString();
  EXPECT_TRUE(window_->isVisible());
  WaitIdle();
  EXPECT_EQ(notice, "The window closes when the adapter has answered.");
  EXPECT_FALSE(window_->isVisible());
}

// What a conversation throws is caught on its thread, named in a message box
// and on stderr, and the window is usable again: buttons enabled, the bar
// gone, and the next click runs.
TEST_F(QtSimSessionTest, AConversationThatThrowsLeavesAUsableWindow) {
  Open({});
  Press(kIdCheckDevice);
  window_->stack().updater.options().progress = [this](UpdateStage stage, int done, int total) {
    window_->UpdateProgress(stage, done, total);
    if (stage == UpdateStage::kWrite && done == 10) throw std::bad_alloc();
  };
  WhenModal<qt::UpdateConfirmDialog>(
      window_.get(), [](qt::UpdateConfirmDialog* d) { Click(d->Control(ui::kIdUpdateOk)); });
  std::string box, stage_under_box;
  WhenModal<QMessageBox>(window_.get(), [&](QMessageBox* d) {
    box = d->text().toStdString();
    if (window_->stage_label()) stage_under_box = window_->stage_label()->text().toStdString();
    d->accept();
  });
  ::testing::internal::CaptureStderr();
  Press(kIdUpdateFirmware);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(box, std::string("The conversation with the adapter stopped: ") + std::bad_alloc().what());
  EXPECT_NE(err.find(std::string("the conversation stopped: ") + std::bad_alloc().what()),
            std::string::npos) << err;
  EXPECT_EQ(stage_under_box, "Failed");
  EXPECT_EQ(window_->progress_bar(), nullptr);
  for (int id : {kIdCheckDevice, kIdUpdateFirmware, kIdSetting, ui::kIdCancel})
    EXPECT_TRUE(window_->Control(id)->isEnabled()) << id;

  window_->stack().updater.options().progress = {};
  const size_t before = Log().size();
  Press(kIdCheckDevice);
  EXPECT_GT(Log().size(), before);
  EXPECT_FALSE(window_->busy());
}

// A thread that can't be made leaves the window as it was, and says why.
TEST_F(QtSimSessionTest, AConversationThatCannotStartLeavesTheWindowAsItWas) {
  Open({});
  window_->worker().set_spawn([](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                            "no thread");
  });
  std::string box;
  WhenModal<QMessageBox>(window_.get(), [&](QMessageBox* d) {
    box = d->text().toStdString();
    d->accept();
  });
  ::testing::internal::CaptureStderr();
  Click(window_->Control(kIdCheckDevice));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(box.rfind("The conversation with the adapter could not start: no thread", 0), 0u) << box;
  EXPECT_NE(err.find("could not start: no thread"), std::string::npos) << err;
  EXPECT_FALSE(window_->busy());
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(window_->Control(kIdCheckDevice)->isEnabled());
  EXPECT_EQ(window_->notice_label(), nullptr);

  window_->worker().set_spawn(
      [](std::function<void()> body) { return std::thread(std::move(body)); });
  Press(kIdCheckDevice);
  EXPECT_FALSE(Log().empty());
}

// The application quits in the middle of the flash: the window goes without
// hanging, and the flash is finished first, so the adapter keeps firmware.
TEST_F(QtSimSessionTest, QuittingDuringTheFlashEndsCleanly) {
  const sim::AdapterConfig config;
  Open(config);
  Press(kIdCheckDevice);
  // The window outlives window_ by its destructor.
  MainWindow* window = window_.get();
  window->stack().updater.options().progress = [window](UpdateStage stage, int done, int total) {
    window->UpdateProgress(stage, done, total);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  bool quit = false, result_shown = false;
  QTimer ticker;
  ticker.setInterval(5);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (quit || !window_ || !window_->progress_bar() || window_->progress_bar()->value() < 300)
      return;
    quit = true;
    // As main() does once the application's event loop has ended.
    window_.reset();
  });
  ticker.start();
  WhenModal<qt::UpdateConfirmDialog>(
      window_.get(), [](qt::UpdateConfirmDialog* d) { Click(d->Control(ui::kIdUpdateOk)); });
  QTimer result_watch;
  result_watch.setInterval(2);
  QObject::connect(&result_watch, &QTimer::timeout, [&] {
    if (qobject_cast<qt::UpdateResultDialog*>(QApplication::activeModalWidget()))
      result_shown = true;
  });
  result_watch.start();
  Click(window_->Control(kIdUpdateFirmware));
  const QDeadlineTimer deadline(60000);
  while (window_ && !deadline.hasExpired()) QTest::qWait(1);
  ticker.stop();
  result_watch.stop();
  ASSERT_TRUE(quit);
  EXPECT_EQ(window_, nullptr);
  EXPECT_FALSE(result_shown);
  const auto flash = bench_->adapter.model().flash();
  const std::vector<uint8_t> want = sim::FlashAfterUpdate(config.bt_address);
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), want.begin(), want.end()));
}

// An image given at run time (--image, --image-version) is the one the title
// names, Check Device advises on and the update writes.
TEST_F(QtSimSessionTest, AnImageGivenAtRunTimeIsTitledAdvisedAndWritten) {
  std::vector<uint8_t> bytes(kFirmwareSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + i / 4096);
  const FirmwareImage image(bytes, 0x2A5);
  sim::AdapterConfig config;
  config.image = bytes;
  config.image_version = 0x2A5;
  Open(config, image);
  EXPECT_EQ(window_->windowTitle().toStdString(), "Brivelton Utility Version: 2.A5");
  Press(kIdCheckDevice);
  const std::vector<std::string> checked = Log();
  EXPECT_NE(std::find(checked.begin(), checked.end(), " Available Firmware for update = 2A5"),
            checked.end());

  WhenModal<qt::UpdateConfirmDialog>(
      window_.get(), [](qt::UpdateConfirmDialog* d) { Click(d->Control(ui::kIdUpdateOk)); });
  WhenModal<qt::UpdateResultDialog>(window_.get(),
                                    [&](qt::UpdateResultDialog* d) { Click(d->Control(ui::kIdOk)); });
  Press(kIdUpdateFirmware);
  const auto flash = bench_->adapter.model().flash();
  ASSERT_GE(flash.size(), bytes.size());
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), flash.begin()));
  EXPECT_EQ(window_->stack().facts.DeviceVersion, 0x2A5);
  const std::vector<std::string> log = Log();
  EXPECT_EQ(log[log.size() - 2], " Success ");
}

TEST_F(QtSimSessionTest, UpdateCancelledByButtonEnterOrEscapeTouchesNothing) {
  const std::vector<std::pair<const char*, std::function<void(qt::UpdateConfirmDialog*)>>> ways = {
      {"Cancel", [](auto* d) { Click(d->Control(ui::kIdCancel)); }},
      {"Enter", [](auto* d) { QTest::keyClick(d->focusWidget(), Qt::Key_Return); }},
      {"Escape", [](auto* d) { QTest::keyClick(d, Qt::Key_Escape); }},
  };
  Open({});
  Press(kIdCheckDevice);
  const std::vector<uint8_t> flash_before(bench_->adapter.model().flash().begin(),
                                          bench_->adapter.model().flash().end());
  for (const auto& [name, act] : ways) {
    SCOPED_TRACE(name);
    const size_t frames = bench_->adapter.model().frames().size();
    WhenModal<qt::UpdateConfirmDialog>(window_.get(), act);
    Press(kIdUpdateFirmware);
    EXPECT_EQ(Log().back(), " Firmware update cancelled");
    EXPECT_EQ(bench_->adapter.model().frames().size(), frames);
  }
  const auto flash = bench_->adapter.model().flash();
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), flash_before.begin(), flash_before.end()));
}

// A blank page and two saved addresses from this port: before anything is
// erased the window asks in its address dialog, and writes what was picked or
// typed, the start-up address without one, or nothing at all on Cancel. What
// names no adapter is refused in the dialog with a sentence.
TEST_F(QtSimSessionTest, AnUpdateOnABlankPageAsksForTheAddressFirst) {
  const BtAddressBytes kX = {0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E};
  const BtAddressBytes kY = {0x00, 0xAA, 0xBB, 0x11, 0x22, 0x33};
  const BtAddressBytes kTyped = {0x00, 0x1B, 0xDC, 0x55, 0x66, 0x77};
  struct Way {
    const char* name;
    std::function<void(qt::AddressDialog*)> act;
    std::optional<BtAddressBytes> written;  // none: nothing erased
    bool picks_second = false;
  };
  const auto pick = [](int row) {
    return [row](qt::AddressDialog* d) {
      auto* list = d->ControlAs<QListWidget>(ui::kIdAddressList);
      QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                        list->visualItemRect(list->item(row)).center());
      Click(d->Control(ui::kIdOk));
    };
  };
  const auto type = [](const char* text) {
    return [text](qt::AddressDialog* d) {
      auto* edit = d->ControlAs<QLineEdit>(ui::kIdAddressEdit);
      edit->clear();
      QTest::keyClicks(edit, QString::fromLatin1(text));
    };
  };
  // Each refused with its sentence, the dialog still up and the field kept.
  std::vector<std::pair<std::string, std::string>> refusals;
  const auto refuse_then = [&](std::function<void(qt::AddressDialog*)> last) {
    return [&, last](qt::AddressDialog* d) {
      for (const char* text : {"00:00:00:00:00:00", "ff:ff:ff:ff:ff:ff", "00:01:00:03:04:06",
                               "00:1B:DC", ""}) {
        type(text)(d);
        QTest::keyClick(d->Control(ui::kIdAddressEdit), Qt::Key_Return);
        EXPECT_TRUE(d->isVisible()) << text;
        refusals.emplace_back(text,
                              d->ControlAs<QLabel>(ui::kIdAddressError)->text().toStdString());
        if (refusals.size() == 1) {
          EXPECT_TRUE(d->grab().save(Artefact("address_refused.png")));
        }
      }
      last(d);
    };
  };
  const std::vector<Way> ways = {
      {"the second saved address picked", pick(1), std::nullopt, true},
      {"12 digits typed as a label prints them, OK by Enter",
       [&](qt::AddressDialog* d) {
         type("00-1b-dc-55-66-77")(d);
         QTest::keyClick(d->Control(ui::kIdAddressEdit), Qt::Key_Return);
       },
       kTyped},
      {"Continue without", [](qt::AddressDialog* d) { Click(d->Control(ui::kIdContinueWithout)); },
       kDefaultBtAddress},
      {"Cancel", [](qt::AddressDialog* d) { Click(d->Control(ui::kIdCancel)); }, std::nullopt},
      {"Escape", [](qt::AddressDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }, std::nullopt},
      {"meaningless addresses refused, then a typed one",
       refuse_then([&](qt::AddressDialog* d) {
         type("001BDC556677")(d);
         Click(d->Control(ui::kIdOk));
       }),
       kTyped},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    refusals.clear();
    sim::AdapterConfig config;
    config.blank_identity = true;
    Open(config);
    MemoryStateStore store;
    std::vector<JournalEntry> saved;
    for (const auto& [address, when] : {std::pair{kX, "2026-12-09T10:00:00Z"},
                                        std::pair{kY, "2026-12-10T11:00:00Z"}}) {
      JournalEntry entry;
      entry.port = kAdapterPort;
      entry.address = address;
      entry.saved = when;
      ASSERT_EQ(FailureOf(IdentityJournal(store).Save(entry)), "");
      saved.push_back(entry);
    }
    window_->stack().updater.options().journal = &store;
    Press(kIdCheckDevice);
    const std::vector<uint8_t> before(bench_->adapter.model().flash().begin(),
                                      bench_->adapter.model().flash().end());

    WhenModal<qt::UpdateConfirmDialog>(
        window_.get(), [](qt::UpdateConfirmDialog* d) { Click(d->Control(ui::kIdUpdateOk)); });
    std::vector<std::string> shown;
    bool erased_before_asked = true;
    WhenModal<qt::AddressDialog>(window_.get(), [&](qt::AddressDialog* d) {
      const auto flash = bench_->adapter.model().flash();
      erased_before_asked = !std::equal(flash.begin(), flash.end(), before.begin(), before.end());
      shown = Lines(d->ControlAs<QListWidget>(ui::kIdAddressList));
      way.act(d);
    });
    bool result_shown = false;
    QTimer result_watch;
    result_watch.setInterval(2);
    QObject::connect(&result_watch, &QTimer::timeout, [&] {
      if (auto* d = qobject_cast<qt::UpdateResultDialog*>(QApplication::activeModalWidget())) {
        result_shown = true;
        d->accept();
      }
    });
    result_watch.start();
    Press(kIdUpdateFirmware);
    result_watch.stop();

    EXPECT_FALSE(erased_before_asked);
    std::optional<BtAddressBytes> written = way.written;
    // What the second line names is what its pick writes.
    if (way.picks_second && shown.size() > 1) written = ParseBtAddress(shown[1].substr(0, 17));
    std::vector<std::string> want_lines;
    for (const JournalEntry& entry : saved) want_lines.push_back(AddressCandidateLine(entry));
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, want_lines);
    const std::vector<std::string> log = Log();
    // The hint lines name the dialog, not the command line.
    for (const JournalEntry& entry : saved) {
      const std::string address = FormatBtAddress(entry.address);
      const std::string hint = WindowAddressRemedy(address);
      EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
        return line.find(address) != std::string::npos && line.find(hint) != std::string::npos;
      })) << hint;
    }
    EXPECT_TRUE(std::none_of(log.begin(), log.end(), [](const std::string& line) {
      return line.find("--address") != std::string::npos;
    }));

    const auto flash = bench_->adapter.model().flash();
    if (written) {
      EXPECT_TRUE(result_shown);
      const std::vector<uint8_t> want = sim::FlashAfterUpdate(*written);
      EXPECT_TRUE(std::equal(flash.begin(), flash.end(), want.begin(), want.end()))
          << FormatBtAddress(*written);
    } else {
      EXPECT_FALSE(result_shown);
      EXPECT_TRUE(std::equal(flash.begin(), flash.end(), before.begin(), before.end()));
      EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
        return line.find("update cancelled, no erase sent") != std::string::npos;
      })) << log.back();
    }
    EXPECT_FALSE(window_->busy());
    if (!refusals.empty()) {
      const std::string cant = "That address can't be written: ";
      EXPECT_EQ(refusals[0].second, cant + MeaninglessAddressReason({}) + ".");
      EXPECT_EQ(refusals[1].second,
                cant + MeaninglessAddressReason({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}) + ".");
      EXPECT_EQ(refusals[2].second, cant + MeaninglessAddressReason(kDefaultBtAddress) + ".");
      EXPECT_EQ(refusals[3].second,
                "That is not an address: it takes 12 hexadecimal digits, such as "
                "00:1B:DC:0F:21:7E.");
      EXPECT_EQ(refusals[4].second,
                "Type the adapter's 12 hexadecimal digits, or pick a saved address.");
    }
    if (std::string(way.name).find("refused") != std::string::npos) {
      EXPECT_EQ(refusals.size(), 5u);
    }
    window_.reset();
  }
}

TEST_F(QtSimSessionTest, UpdateThatNeverGetsThroughShowsTheFailure) {
  Open({});
  Press(kIdCheckDevice);
  bench_->adapter.model().config().faults.silent = true;
  std::string result;
  WhenModal<qt::UpdateConfirmDialog>(
      window_.get(), [](qt::UpdateConfirmDialog* d) { Click(d->Control(ui::kIdUpdateOk)); });
  WhenModal<qt::UpdateResultDialog>(window_.get(), [&](qt::UpdateResultDialog* d) {
    result = d->ControlAs<QLabel>(ui::kIdResultText)->text().toStdString();
    QTest::keyClick(d, Qt::Key_Return);
  });
  Press(kIdUpdateFirmware);
  EXPECT_EQ(result, "Update failed. Please unplug the device and try again.");
  const std::vector<std::string> log = Log();
  EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
            (std::vector<std::string>{"         WARMING !!! FAILED !!!                       ",
                                      " Please re-install the device and try again."}));
  EXPECT_EQ(window_->stack().facts.DeviceVersion, 0x1FF);
}

// Firmware new enough for parameters, with every parameter away from its default.
sim::AdapterConfig ParamsConfig() {
  sim::AdapterConfig config;
  config.version = 0x203;
  config.params = {{1, 1}, {2, 0}, {3, 1}, {4, 3},  {5, 150},
                   {6, 0}, {7, 0}, {8, 2}, {9, 1}, {10, 0}};
  return config;
}

TEST_F(QtSimSessionTest, SettingsEditedAndSavedWriteWhatTheUserChose) {
  const sim::AdapterConfig config = ParamsConfig();
  Open(config);
  Press(kIdCheckDevice);
  const testing::TraceCapture& trace = trace_;
  SettingsValues shown;
  bool helped = false;
  WhenModal<qt::SettingsDialog>(window_.get(), [&](qt::SettingsDialog* d) {
    for (int id : kCheckBoxIds) *SettingsMember(shown, id) = d->ControlAs<QCheckBox>(id)->isChecked();
    for (int id : kDropDownIds) *SettingsMember(shown, id) = d->ControlAs<QComboBox>(id)->currentIndex();
    EXPECT_TRUE(d->grab().save(Artefact("settings_dialog.png")));
    EXPECT_EQ(d->size(), QSize(316, 347));  // 158 x 185 dialog units

    ClickIndicator(d->ControlAs<QCheckBox>(kIdMediaAudio));
    ClickIndicator(d->ControlAs<QCheckBox>(kIdCallerId));
    auto* power = d->ControlAs<QComboBox>(kIdOffHookPower);
    power->setFocus();
    QTest::keyClick(power, Qt::Key_Up);  // High -> Medium
    QTest::keyClick(power, Qt::Key_Up);  // -> Low
    WhenModal<qt::HelpDialog>(d, [&](qt::HelpDialog* help) {
      helped = help->ControlAs<QListWidget>(ui::kIdHelpList)->count() == 41;
      QTest::keyClick(help, Qt::Key_Escape);
    });
    Click(d->Control(ui::kIdSettingsHelp));
    EXPECT_EQ(power->currentText(), "Low");
    Click(d->Control(ui::kIdOk));
  });
  Press(kIdSetting);
  EXPECT_TRUE(helped);

  // Read from the adapter: op 4 = 3 is 30 ms, op 5 = 150 is High, op 8 = 2 is "# key".
  SettingsValues read;
  read.m_callerid = 1;
  read.m_strong_ring = 0;
  read.m_aec = 1;
  read.m_dialtone_dis = 0;
  read.m_reverse_dis = 0;
  read.m_led_display = 1;
  read.m_a2dp = 0;
  read.m_hook_speed_index = 0;
  read.m_offhook_pwr_index = 2;
  read.m_dial_plan_index = 2;
  EXPECT_EQ(shown, read);

  // Caller ID off, Media Audio on, Off-Hook Power Low (sent as 2, which the
  // adapter keeps as its raw 225).
  std::vector<uint32_t> want = Params(bench_->adapter.model());
  EXPECT_EQ(want, (std::vector<uint32_t>{0, 0, 1, 3, 225, 0, 0, 2, 1, 1}));
  const std::vector<std::string> log = Log();
  EXPECT_EQ(std::vector<std::string>(log.end() - 5, log.end()),
            (std::vector<std::string>{"", " Change Media Audio setting.",
                                      " Need to reset the device to take effect.", "",
                                      " Set parameters successfully"}));
  EXPECT_NE(std::find(trace.lines.begin(), trace.lines.end(), " m_offhook_pwr_index = 0"),
            trace.lines.end());

  SettingsValues chosen = read;
  chosen.m_callerid = 0;
  chosen.m_a2dp = 1;
  chosen.m_offhook_pwr_index = 0;
  const auto ref = RunReference(config, [&](Reference& r) {
    r.view.edit_settings = [&](SettingsValues& v) {
      v = chosen;
      return true;
    };
    r.logic.OnCheckDevice();
    r.logic.OnSetting();
  });
  EXPECT_EQ(log, ref->view.log);
  EXPECT_EQ(Params(ref->bench->adapter.model()), want);
}

TEST_F(QtSimSessionTest, SettingsSetToDefaultWritesTheDefaults) {
  const sim::AdapterConfig config = ParamsConfig();
  Open(config);
  Press(kIdCheckDevice);
  const testing::TraceCapture& trace = trace_;
  WhenModal<qt::SettingsDialog>(window_.get(), [&](qt::SettingsDialog* d) {
    Click(d->Control(ui::kIdSetDefault));
    EXPECT_EQ(d->ControlAs<QComboBox>(kIdHookSpeed)->currentText(), "70 ms");
    EXPECT_EQ(d->ControlAs<QComboBox>(kIdOffHookPower)->currentText(), "Medium");
    EXPECT_EQ(d->ControlAs<QComboBox>(kIdDialPlan)->currentText(), "With timeout");
    Click(d->Control(ui::kIdOk));
  });
  Press(kIdSetting);
  EXPECT_EQ(Log().back(), " Set parameters successfully");
  EXPECT_NE(std::find(trace.lines.begin(), trace.lines.end(), " Set default"), trace.lines.end());
  // Reverse Tip/Ring on, LED off, 70 ms (raw 7), Medium (raw 190), With
  // timeout; the rest were at their defaults already.
  EXPECT_EQ(Params(bench_->adapter.model()),
            (std::vector<uint32_t>{1, 0, 1, 7, 190, 0, 1, 0, 0, 0}));
  const auto ref = RunReference(config, [](Reference& r) {
    r.view.edit_settings = [](SettingsValues& v) {
      v = DefaultSettings();
      return true;
    };
    r.logic.OnCheckDevice();
    r.logic.OnSetting();
  });
  EXPECT_EQ(Log(), ref->view.log);
  EXPECT_EQ(Params(bench_->adapter.model()), Params(ref->bench->adapter.model()));
}

TEST_F(QtSimSessionTest, SettingsCancelledByButtonOrEscapeWriteNothing) {
  const std::vector<std::pair<const char*, std::function<void(qt::SettingsDialog*)>>> ways = {
      {"Cancel", [](auto* d) { Click(d->Control(ui::kIdCancel)); }},
      {"Escape", [](auto* d) { QTest::keyClick(d, Qt::Key_Escape); }},
  };
  const sim::AdapterConfig config = ParamsConfig();
  Open(config);
  Press(kIdCheckDevice);
  const std::vector<uint32_t> before = Params(bench_->adapter.model());
  for (const auto& [name, act] : ways) {
    SCOPED_TRACE(name);
    WhenModal<qt::SettingsDialog>(window_.get(), [act = act](qt::SettingsDialog* d) {
      ClickIndicator(d->ControlAs<QCheckBox>(kIdStrongRing));
      Click(d->Control(ui::kIdSetDefault));
      act(d);
    });
    Press(kIdSetting);
    EXPECT_EQ(Log().back(), " Set parameters cancelled");
    EXPECT_EQ(Params(bench_->adapter.model()), before);
  }
}

TEST_F(QtSimSessionTest, SettingRefusedOnOldFirmwareOpensNoDialog) {
  Open({});  // version 1FF
  Press(kIdCheckDevice);
  const size_t before = Log().size();
  const size_t frames = bench_->adapter.model().frames().size();
  bool opened = false;
  WhenModal<qt::SettingsDialog>(window_.get(), [&](qt::SettingsDialog* d) {
    opened = true;
    d->reject();
  });
  Press(kIdSetting);
  EXPECT_FALSE(opened);
  const std::vector<std::string> log = Log();
  EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<long>(before), log.end()),
            (std::vector<std::string>{" ", " Device version = 1FF",
                                      " Setting is not supported in this version.",
                                      " Please update the firmware first.", " "}));
  EXPECT_EQ(bench_->adapter.model().frames().size(), frames);
}

}  // namespace
}  // namespace brivelton::testing
