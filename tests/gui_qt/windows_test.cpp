// SPDX-License-Identifier: MIT
// The windows on their own: sizes and places from the templates, keys, the
// About entry, the message list's rules, and each dialog's buttons.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "app/command_line.h"
#include "app/log_rows.h"
#include "app/window_texts.h"
#include "log/message_log.h"
#include "gui/qt/dialogs.h"
#include "gui/qt/main_window.h"
#include "params/settings_data.h"
#include "sim/virtual_serial.h"
#include "support/settings_help_text.h"
#include "qt_driver.h"
#include "resources/firmware_image.h"

namespace brivelton::testing {
namespace {

using qt::MainWindow;

// An image of the given kind: the placeholder's mark at its start, or not.
FirmwareImage ImageOf(bool placeholder) {
  std::vector<uint8_t> bytes(kFirmwareSize, 0x5A);
  if (placeholder) std::copy_n(kPlaceholderMark, std::strlen(kPlaceholderMark), bytes.begin());
  return FirmwareImage(std::move(bytes), 0x204);
}

// A main window with no ports at all: nothing here talks to a device.
struct Idle {
  VirtualClock clock;
  VirtualSerialPorts ports{clock};
  FixedPortList list{{}};
  Platform platform{ports, clock, list};
};

// The texts of a dialog's labels, top to bottom.
std::vector<std::string> LabelTexts(const QWidget* dialog) {
  QList<QLabel*> labels = dialog->findChildren<QLabel*>();
  std::sort(labels.begin(), labels.end(),
            [](const QLabel* a, const QLabel* b) { return a->y() < b->y(); });
  std::vector<std::string> texts;
  for (const QLabel* label : labels)
    if (!label->text().isEmpty()) texts.push_back(label->text().toStdString());
  return texts;
}

// The trace a dialog writes to; `untraced` for dialogs whose trace no test reads.
class TraceLog {
 public:
  std::vector<std::string> lines;
  MessageLog log{{}, [this](const std::string& line) { lines.push_back(line); }};
};
MessageLog untraced;

TEST(QtWindowsTest, DialogFontIsArialMetricsAndUnitsFollowIt) {
  const QFont font = qt::DialogFont(ui::MainDialogTemplate());
  // Arial resolves to its metric twin, so dialog units come out as on Windows:
  // 13 px at 96 dpi, 8 by 15 pixel base units.
  EXPECT_EQ(QFontInfo(font).family().toStdString(), "Liberation Sans");
  const qt::BaseUnits units = qt::DialogBaseUnits(font);
  EXPECT_EQ(units.x, 8);
  EXPECT_EQ(units.y, 15);
  EXPECT_EQ(qt::MulDiv(249, 8, 4), 498);
  EXPECT_EQ(qt::MulDiv(255, 15, 8), 478);  // 478.125
  EXPECT_EQ(qt::MulDiv(185, 15, 8), 347);  // 346.875 rounds up
  EXPECT_EQ(qt::MulDiv(-3, 1, 2), -2);     // away from zero, as MulDiv
}

// Where each dialog and control lands in pixels, worked out by hand from
// its place in dialog units with the 8 by 15 base units of Arial 10 at 96 dpi:
// x and widths double, y and heights are 15/8 rounded half away from zero.
struct PixelPlace {
  int dialog;
  int control;       // kWhole for the dialog's own size
  const char* text;  // tells the unnumbered statics apart; nullptr otherwise
  QRect rect;
};
constexpr int kWhole = 0;

const PixelPlace kPixelPlaces[] = {
    {102, kWhole, nullptr, {0, 0, 498, 478}},                  // 249 by 255
    {102, -1, "Messages:", {30, 13, 204, 23}},                 // 15, 7, 102, 12
    {102, 1004, nullptr, {30, 36, 294, 407}},                  // 15, 19, 147, 217
    {102, 1001, nullptr, {354, 32, 116, 26}},                  // 177, 17, 58, 14
    {102, 1002, nullptr, {354, 69, 116, 26}},                  // 177, 37, 58, 14
    {102, 1014, nullptr, {354, 109, 116, 26}},                 // 177, 58, 58, 14
    {102, 2, nullptr, {354, 439, 116, 26}},                    // 177, 234, 58, 14
    {100, kWhole, nullptr, {0, 0, 434, 103}},                  // 217 by 55
    {100, -1, "", {22, 32, 32, 32}},                           // 11, 17; an icon's own size
    {100, -1, "Brivelton Utility", {80, 19, 238, 15}},         // 40, 10, 119, 8
    {100, -1, nullptr, {80, 47, 274, 15}},                     // 40, 25, 137, 8
    {100, 1, nullptr, {356, 13, 64, 26}},                      // 178, 7, 32, 14
    {100, 1070, nullptr, {80, 68, 340, 32}},                   // 40, 36, 170, 17
    {129, kWhole, nullptr, {0, 0, 438, 171}},                  // 219 by 91
    {129, -1, "WARMING:", {16, 17, 156, 19}},                  // 8, 9, 78, 10
    {129, -1,
     "Update firmware will clear all paired Bluetooth devices information and parameters.",
     {14, 41, 410, 36}},                                       // 7, 22, 205, 19
    {129, -1, "Please re-pair the device after update.", {14, 84, 296, 21}},  // 7, 45, 148, 11
    {129, -1, "Press \"OK\" to continue.", {14, 128, 264, 30}},  // 7, 68, 132, 16
    {129, 1046, nullptr, {324, 103, 100, 26}},                 // 162, 55, 50, 14
    {129, 2, nullptr, {324, 133, 100, 24}},                    // 162, 71, 50, 13
    {129, 1071, nullptr, {176, 8, 248, 32}},                   // 88, 4, 124, 17
    {130, kWhole, nullptr, {0, 0, 316, 347}},                  // 158 by 185
    {130, 1044, nullptr, {16, 11, 204, 26}},                   // 8, 6, 102, 14
    {130, 1030, nullptr, {16, 32, 160, 30}},                   // 8, 17, 80, 16
    {130, 1031, nullptr, {16, 60, 136, 19}},                   // 8, 32, 68, 10
    {130, 1032, nullptr, {16, 83, 208, 19}},                   // 8, 44, 104, 10
    {130, 1033, nullptr, {16, 105, 270, 19}},                  // 8, 56, 135, 10
    {130, 1034, nullptr, {16, 128, 178, 19}},                  // 8, 68, 89, 10
    {130, 1035, nullptr, {16, 150, 150, 19}},                  // 8, 80, 75, 10
    {130, 1051, nullptr, {110, 176, 154, 88}},                 // 55, 94, 77, 47
    {130, 1052, nullptr, {132, 203, 102, 114}},                // 66, 108, 51, 61
    {130, 1053, nullptr, {180, 229, 86, 103}},                 // 90, 122, 43, 55
    {130, -1, "Dialing Plan", {18, 180, 92, 24}},              // 9, 96, 46, 13
    {130, -1, "Off-Hook Power", {18, 208, 112, 17}},           // 9, 111, 56, 9
    {130, -1, "Hook Detection Speed", {18, 234, 154, 21}},     // 9, 125, 77, 11
    {130, 1, nullptr, {14, 306, 100, 26}},                     // 7, 163, 50, 14
    {130, 2, nullptr, {202, 306, 100, 26}},                    // 101, 163, 50, 14
    {130, 1040, nullptr, {110, 268, 100, 26}},                 // 55, 143, 50, 14
    {130, 1045, nullptr, {202, 13, 100, 26}},                  // 101, 7, 50, 14
    {131, kWhole, nullptr, {0, 0, 374, 84}},                   // 187 by 45
    {131, 1054, nullptr, {22, 17, 202, 54}},                   // 11, 9, 101, 29
    {131, 1, nullptr, {260, 23, 100, 26}},                     // 130, 12, 50, 14
    {133, kWhole, nullptr, {0, 0, 370, 311}},                  // 185 by 166
    {133, 1036, nullptr, {14, 13, 342, 257}},                  // 7, 7, 171, 137
    {133, 1, nullptr, {142, 272, 100, 26}},                    // 71, 145, 50, 14
    {134, kWhole, nullptr, {0, 0, 520, 281}},                  // 260 by 150
    {134, -1,
     "The adapter has lost its Bluetooth address. Pick the one it had, or type its 12 "
     "hexadecimal digits from the adapter's label or from the phone's list of paired devices.",
     {14, 13, 492, 49}},                                        // 7, 7, 246, 26
    {134, -1, "Saved addresses:", {14, 68, 200, 15}},          // 7, 36, 100, 8
    {134, 1060, nullptr, {14, 86, 492, 75}},                   // 7, 46, 246, 40
    {134, -1, "Address:", {14, 176, 68, 15}},                  // 7, 94, 34, 8
    {134, 1061, nullptr, {86, 173, 180, 23}},                  // 43, 92, 90, 12
    {134, 1062, nullptr, {14, 203, 492, 30}},                  // 7, 108, 246, 16
    {134, 1, nullptr, {158, 240, 92, 26}},                     // 79, 128, 46, 14
    {134, 1063, nullptr, {262, 240, 140, 26}},                 // 131, 128, 70, 14
    {134, 2, nullptr, {414, 240, 92, 26}},                     // 207, 128, 46, 14
};

const PixelPlace* FindPlace(int dialog, int control, const std::string& text) {
  for (const PixelPlace& p : kPixelPlaces) {
    if (p.dialog != dialog || p.control != control) continue;
    if (control != ui::kIdStatic) return &p;
    if (text == (p.text ? p.text : ui::AboutSecondLine())) return &p;
  }
  return nullptr;
}

// Every dialog and every control at its place in pixels; only the closed
// height of a drop-down list comes from its font, as on Windows.
TEST(QtWindowsTest, EveryDialogAndControlIsWhereItsUnitsPutIt) {
  Idle idle;
  MainWindow main(idle.platform);
  const SettingsValues values = DefaultSettings();
  std::vector<std::unique_ptr<qt::TemplateDialog>> dialogs;
  const FirmwareImage placeholder = ImageOf(true);
  dialogs.push_back(std::make_unique<qt::AboutDialog>(&main));
  dialogs.push_back(std::make_unique<qt::UpdateConfirmDialog>(&main, placeholder));
  dialogs.push_back(std::make_unique<qt::UpdateResultDialog>(true, &main));
  dialogs.push_back(std::make_unique<qt::SettingsDialog>(values, untraced, &main));
  dialogs.push_back(std::make_unique<qt::HelpDialog>(&main));
  const std::vector<JournalEntry> none;
  dialogs.push_back(std::make_unique<qt::AddressDialog>(none, &main));
  std::vector<qt::TemplateDialog*> all{&main};
  for (auto& d : dialogs) all.push_back(d.get());

  for (qt::TemplateDialog* dialog : all) {
    const int dialog_id = dialog->dialog_template().id;
    SCOPED_TRACE(dialog_id);
    const PixelPlace* whole = FindPlace(dialog_id, kWhole, "");
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(dialog->size(), whole->rect.size());
    EXPECT_EQ(dialog->minimumSize(), whole->rect.size());
    EXPECT_EQ(dialog->maximumSize(), whole->rect.size());
    int placed = 0;
    for (QWidget* widget : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (!widget->property(qt::kControlIdProperty).isValid()) continue;
      const int id = widget->property(qt::kControlIdProperty).toInt();
      const auto* label = qobject_cast<QLabel*>(widget);
      const std::string text = label ? label->text().toStdString() : "";
      const PixelPlace* want = FindPlace(dialog_id, id, text);
      ASSERT_NE(want, nullptr) << id << " " << text;
      if (id != ui::kIdStatic) {
        EXPECT_EQ(widget->objectName().toInt(), id);
      }
      const QRect got = widget->geometry();
      EXPECT_EQ(got.topLeft(), want->rect.topLeft()) << id << " " << text;
      EXPECT_EQ(got.width(), want->rect.width()) << id << " " << text;
      if (qobject_cast<QComboBox*>(widget)) {
        EXPECT_LE(got.height(), want->rect.height()) << id;
      } else {
        EXPECT_EQ(got.height(), want->rect.height()) << id << " " << text;
      }
      ++placed;
    }
    const auto rows = std::count_if(std::begin(kPixelPlaces), std::end(kPixelPlaces),
                                    [&](const PixelPlace& p) { return p.dialog == dialog_id; });
    EXPECT_EQ(placed, rows - 1);
  }
}

TEST(QtWindowsTest, MainWindowStartsWithTitleIconAndTwoButtons) {
  Idle idle;
  MainWindow window(idle.platform);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.windowTitle().toStdString(),
            "Brivelton Utility Version: " + VersionText(BuiltInImage().version()));
  if (BuiltInImage().version() == 0x204) {
    EXPECT_EQ(window.windowTitle().toStdString(), "Brivelton Utility Version: 2.04");
  }
  EXPECT_TRUE(window.Control(kIdCheckDevice)->isVisible());
  EXPECT_TRUE(window.Control(ui::kIdCancel)->isVisible());
  EXPECT_FALSE(window.Control(kIdUpdateFirmware)->isVisible());
  EXPECT_FALSE(window.Control(kIdSetting)->isVisible());
  EXPECT_EQ(window.ControlAs<QPushButton>(kIdCheckDevice)->text(), "Check Device");
  EXPECT_EQ(window.ControlAs<QPushButton>(ui::kIdCancel)->text(), "Close");
  EXPECT_EQ(window.message_list()->selectionMode(), QAbstractItemView::NoSelection);
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);

  // The shared icon file, read through Qt's ico reader: both of its sizes.
  const QIcon icon = window.windowIcon();
  ASSERT_FALSE(icon.isNull());
  EXPECT_EQ(icon.pixmap(32, 32).size(), QSize(32, 32));
  EXPECT_FALSE(icon.pixmap(16, 16).toImage().isNull());
  EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
  EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
}

// Close, Escape and Enter each end the window's modal loop, which ends the
// program; ShowButton on the hidden buttons is what Check Device uses.
TEST(QtWindowsTest, CloseEscapeAndEnterEndTheWindow) {
  const std::vector<std::pair<const char*, std::function<void(MainWindow&)>>> ways = {
      {"Close", [](MainWindow& w) { QTest::mouseClick(w.Control(ui::kIdCancel), Qt::LeftButton); }},
      {"Escape", [](MainWindow& w) { QTest::keyClick(w.message_list(), Qt::Key_Escape); }},
      {"Return", [](MainWindow& w) { QTest::keyClick(w.message_list(), Qt::Key_Return); }},
      {"Enter", [](MainWindow& w) { QTest::keyClick(w.message_list(), Qt::Key_Enter, Qt::KeypadModifier); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.first);
    const auto& act = way.second;  // clang 14 captures no structured bindings
    Idle idle;
    MainWindow window(idle.platform);
    bool acted = false;
    QTimer::singleShot(0, &window, [&] {
      acted = true;
      act(window);
    });
    // Should the window not close, the guard ends it with a result of its own.
    QTimer::singleShot(10000, &window, [&] { window.done(99); });
    const int result = window.exec();
    EXPECT_TRUE(acted);
    EXPECT_NE(result, 99);
    EXPECT_FALSE(window.isVisible());
  }
}

TEST(QtWindowsTest, AboutEntryInContextMenuAndOnF1) {
  Idle idle;
  MainWindow window(idle.platform);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  QAction* about = window.about_action();
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(window.contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_TRUE(window.actions().contains(about));
  // String 101 with its accelerator, read by Qt menus as Windows menus read it.
  EXPECT_EQ(about->text().toStdString(), ui::AboutMenuText());
  EXPECT_EQ(qt::StripAccelerator(about->text()), "About Brivelton Utility ...");
  EXPECT_EQ(about->shortcut(), QKeySequence(Qt::Key_F1));

  bool shown = false;
  WhenModal<qt::AboutDialog>(&window, [&](qt::AboutDialog* dialog) {
    shown = true;
    EXPECT_EQ(dialog->windowTitle().toStdString(), ui::AboutTitle());
    EXPECT_EQ(LabelTexts(dialog),
              (std::vector<std::string>{"Brivelton Utility", ui::AboutSecondLine(),
                                        AboutFirmwareLine(BuiltInImage())}));
    QLabel* icon = nullptr;
    for (QLabel* label : dialog->findChildren<QLabel*>())
      if (label->text().isEmpty()) icon = label;
    EXPECT_NE(icon, nullptr);
    if (icon) {
      EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));
    }
    auto* ok = dialog->ControlAs<QPushButton>(ui::kIdOk);
    EXPECT_TRUE(ok->isDefault());
    Click(ok);
  });
  QTest::keyClick(window.message_list(), Qt::Key_F1);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(window.isVisible());  // the About box closes alone
}

// The About box tells the program's version from the firmware's, and says
// when that firmware is a placeholder; so does the update warning, beside
// its own texts.
TEST(QtWindowsTest, AboutAndWarningNameTheFirmwareAndAPlaceholder) {
  Idle idle;
  MainWindow window(idle.platform);
  const std::string note = kPlaceholderNote;
  for (const bool placeholder : {true, false}) {
    SCOPED_TRACE(placeholder);
    const FirmwareImage image = ImageOf(placeholder);
    qt::AboutDialog about(&window, image);
    const std::string firmware = placeholder ? "Firmware 2.04: " + note : "Firmware 2.04";
    EXPECT_EQ(LabelTexts(&about), (std::vector<std::string>{
                                      "Brivelton Utility",
                                      std::string("Version ") + ProgramVersion(), firmware}));
    qt::UpdateConfirmDialog warning(&window, image);
    std::vector<std::string> texts = {
        "WARMING:",
        "Update firmware will clear all paired Bluetooth devices information and parameters.",
        "Please re-pair the device after update.", "Press \"OK\" to continue."};
    if (placeholder) texts.insert(texts.begin(), "Firmware 2.04 is " + note + ".");
    EXPECT_EQ(LabelTexts(&warning), texts);
    if (!placeholder) continue;
    // Every word in view: the labels' rows fit their places.
    for (QLabel* label : about.findChildren<QLabel*>())
      EXPECT_LE(label->heightForWidth(label->width()), label->height()) << label->text().toStdString();
    for (QLabel* label : warning.findChildren<QLabel*>())
      EXPECT_LE(label->heightForWidth(label->width()), label->height()) << label->text().toStdString();
    EXPECT_TRUE(about.grab().save(QStringLiteral(BRIVELTON_QT_ARTEFACT_DIR "/about.png")));
    EXPECT_TRUE(warning.grab().save(QStringLiteral(BRIVELTON_QT_ARTEFACT_DIR "/update_warning.png")));
  }
}

TEST(QtWindowsTest, StripAcceleratorKeepsDoubledAmpersands) {
  EXPECT_EQ(qt::StripAccelerator("&About x ..."), "About x ...");
  EXPECT_EQ(qt::StripAccelerator("Save && E&xit"), "Save & Exit");
  EXPECT_EQ(qt::StripAccelerator("trailing&"), "trailing");
  EXPECT_EQ(qt::StripAccelerator(""), "");
}

TEST(QtWindowsTest, MessageListKeepsLinesAsGivenAndNewestInView) {
  Idle idle;
  MainWindow window(idle.platform);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QListWidget* list = window.message_list();

  // Spaces and a trailing newline stay; the newline does not make a taller line.
  window.AppendLog(" ");
  window.AppendLog(" Fail to write flash add 0\n");
  window.AppendLog("");
  EXPECT_EQ(Lines(list), (std::vector<std::string>{" ", " Fail to write flash add 0\n", ""}));
  const int row_height = list->visualItemRect(list->item(0)).height();
  EXPECT_EQ(list->visualItemRect(list->item(1)).height(), row_height);
  EXPECT_EQ(row_height, window.units().y);

  const QRect view = list->viewport()->rect();
  for (int n = 4; n <= 100; ++n) {
    if (n == 50) list->scrollToTop();  // the user looked back
    window.AppendLog(" line " + std::to_string(n));
    // Entries n-23 .. n-1 (from 0) are the newest 23: all of them in view.
    for (int row = std::max(0, n - 23); row < n; ++row)
      ASSERT_TRUE(view.contains(list->visualItemRect(list->item(row)))) << n << " " << row;
  }
  // A list this tall shows more than 23 rows, so the scroll stops at the end.
  const int top = list->indexAt(QPoint(1, 1)).row();
  EXPECT_LE(top, LogTopIndex(100));
  EXPECT_GT(top, 0);
}

// Long lines go on in indented rows, never cut; the newest rows stay in view
// by the log's rule counted in rows; and the list shows when it has the
// keyboard, where Enter closes the window.
TEST(QtWindowsTest, MessageListWrapsLongLinesAndShowsItsFocus) {
  Idle idle;
  MainWindow window(idle.platform);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QListWidget* list = window.message_list();
  const int row = list->fontMetrics().height();
  const std::vector<std::string> long_lines = {
      " Identity page blank; the address 5A:1B:3C:4D:5E:6F saved for port /dev/ttyUSB0 at "
      "2026-12-10T11:00:00Z is not used. If it is this adapter's: pick it in the Adapter "
      "Address dialog",
      " No address chosen: update cancelled, nothing erased",
      " Identity page blank: restored address 5A:1B:3C:4D:5E:6F from identity-5A1B3C4D5E6F"};
  std::vector<int> rows;
  for (int n = 0; n < 12; ++n) {
    for (const std::string& line : long_lines) {
      window.AppendLog(line);
      rows.push_back(qt::WrappedRows(list, QString::fromStdString(line)));
    }
    window.AppendLog(" Done");
    rows.push_back(1);
    // The newest lines, as many as make 23 rows, all in view.
    const int count = list->count();
    int in_view = 0;
    for (int i = count - 1; i >= 0 && in_view + rows[static_cast<size_t>(i)] <= 23; --i) {
      in_view += rows[static_cast<size_t>(i)];
      ASSERT_TRUE(list->viewport()->rect().contains(list->visualItemRect(list->item(i))))
          << count << " " << i;
    }
    if (n == 0) {
      EXPECT_TRUE(window.grab().save(QStringLiteral(BRIVELTON_QT_ARTEFACT_DIR "/main_long_lines.png")));
    }
  }
  for (size_t i = 0; i < long_lines.size(); ++i) {
    SCOPED_TRACE(long_lines[i]);
    EXPECT_GE(rows[i], 2);
    EXPECT_EQ(list->visualItemRect(list->item(static_cast<int>(i))).height(), rows[i] * row);
  }
  // The list is taller than 23 rows: the scroll stops at its end.
  EXPECT_LE(list->indexAt(QPoint(1, 1)).row(), LogTopIndexOfRows(rows));
  EXPECT_GT(list->indexAt(QPoint(1, 1)).row(), 0);

  window.Control(kIdCheckDevice)->setFocus();
  const QImage unfocused = list->grab().toImage();
  list->setFocus();
  ASSERT_TRUE(list->hasFocus());
  const QImage focused = list->grab().toImage();
  EXPECT_NE(focused, unfocused);
  EXPECT_TRUE(window.grab().save(QStringLiteral(BRIVELTON_QT_ARTEFACT_DIR "/main_list_focused.png")));
}

// What the screen holds of the list, against what a fresh render of it shows.
bool ListOnScreenIsCurrent(MainWindow& window) {
  // The offscreen screen hands back the backing store as last painted.
  const QImage screen = window.screen()->grabWindow(window.winId()).toImage();
  const QImage fresh = window.grab().toImage();
  const QRect place = window.message_list()->geometry();
  return screen.copy(place).convertToFormat(QImage::Format_RGB32) ==
         fresh.copy(place).convertToFormat(QImage::Format_RGB32);
}

TEST(QtWindowsTest, EachAppendIsOnScreenWithoutTheEventLoop) {
  Idle idle;
  MainWindow window(idle.platform);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QApplication::processEvents();
  for (int n = 1; n <= 40; ++n) {
    window.AppendLog(" line " + std::to_string(n));
    ASSERT_TRUE(ListOnScreenIsCurrent(window)) << n;
  }
}

TEST(QtWindowsTest, UpdateConfirmDialogOkCancelEscapeAndEnter) {
  struct Case {
    const char* name;
    std::function<void(qt::UpdateConfirmDialog*)> act;
    int result;
  };
  const std::vector<Case> cases = {
      {"OK", [](auto* d) { Click(d->Control(ui::kIdUpdateOk)); }, QDialog::Accepted},
      {"Cancel", [](auto* d) { Click(d->Control(ui::kIdCancel)); }, QDialog::Rejected},
      {"Escape", [](auto* d) { QTest::keyClick(d, Qt::Key_Escape); }, QDialog::Rejected},
      {"Enter", [](auto* d) { QTest::keyClick(d->focusWidget(), Qt::Key_Return); },
       QDialog::Rejected},
  };
  Idle idle;
  MainWindow window(idle.platform);
  window.show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FirmwareImage image = ImageOf(false);
    qt::UpdateConfirmDialog dialog(&window, image);
    const ui::DialogTemplate& t = ui::UpdateConfirmDialogTemplate();
    EXPECT_EQ(dialog.windowTitle().toStdString(), t.title);
    QTimer::singleShot(0, &dialog, [&] {
      EXPECT_EQ(LabelTexts(&dialog), (std::vector<std::string>{
                            "WARMING:",
                            "Update firmware will clear all paired Bluetooth devices "
                            "information and parameters.",
                            "Please re-pair the device after update.", "Press \"OK\" to continue."}));
      EXPECT_TRUE(dialog.ControlAs<QPushButton>(ui::kIdCancel)->isDefault());
      EXPECT_EQ(dialog.focusWidget(), dialog.Control(ui::kIdCancel));
      c.act(&dialog);
    });
    EXPECT_EQ(dialog.exec(), c.result);
  }
}

TEST(QtWindowsTest, UpdateResultDialogShowsTheOutcome) {
  for (bool success : {true, false}) {
    qt::UpdateResultDialog dialog(success, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Firmware Update Result");
    EXPECT_EQ(dialog.ControlAs<QLabel>(ui::kIdResultText)->text().toStdString(),
              success ? "Firmware update done. Please re-pair device."
                      : "Update failed. Please unplug the device and try again.");
    QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Return); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  }
}

// Reads the ten members as the settings dialog's controls show them.
SettingsValues Shown(const qt::SettingsDialog& dialog) {
  SettingsValues v;
  for (int id : kCheckBoxIds) *SettingsMember(v, id) = dialog.ControlAs<QCheckBox>(id)->isChecked();
  for (int id : kDropDownIds) *SettingsMember(v, id) = dialog.ControlAs<QComboBox>(id)->currentIndex();
  return v;
}

SettingsValues Opposite() {
  SettingsValues v;
  v.m_callerid = 0;
  v.m_aec = 0;
  v.m_a2dp = 1;
  v.m_dialtone_dis = 1;
  v.m_reverse_dis = 0;
  v.m_strong_ring = 1;
  v.m_led_display = 1;
  v.m_dial_plan_index = 2;
  v.m_offhook_pwr_index = 4;
  v.m_hook_speed_index = 0;
  return v;
}

TEST(QtWindowsTest, SettingsDialogShowsMembersAndListsInOrder) {
  qt::SettingsDialog dialog(Opposite(), untraced, nullptr);
  EXPECT_EQ(Shown(dialog), Opposite());
  EXPECT_EQ(dialog.windowTitle(), "Set Brivelton Parameters");
  // A title bar without a close box.
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(dialog.windowFlags() & Qt::WindowTitleHint);

  const std::vector<std::pair<int, QStringList>> lists = {
      {kIdDialPlan, {"With timeout", "Without timeout", "# key"}},
      {kIdOffHookPower, {"Low", "Medium", "High", "Strong", "Strongest"}},
      {kIdHookSpeed, {"30 ms", "50 ms", "70 ms", "100 ms"}},
  };
  for (const auto& [id, items] : lists) {
    auto* combo = dialog.ControlAs<QComboBox>(id);
    QStringList got;
    for (int i = 0; i < combo->count(); ++i) got << combo->itemText(i);
    EXPECT_EQ(got, items) << id;
    EXPECT_FALSE(combo->isEditable());
  }

  // No choice (-1) shows an empty list box and stays -1 through OK.
  SettingsValues none = DefaultSettings();
  none.m_offhook_pwr_index = -1;
  qt::SettingsDialog unchosen(none, untraced, nullptr);
  EXPECT_EQ(unchosen.ControlAs<QComboBox>(kIdOffHookPower)->currentText(), "");
  QTimer::singleShot(0, &unchosen, [&] { Click(unchosen.Control(ui::kIdOk)); });
  ASSERT_EQ(unchosen.exec(), QDialog::Accepted);
  EXPECT_EQ(unchosen.values(), none);
}

TEST(QtWindowsTest, SetToDefaultChangesControlsOnlyUntilOk) {
  for (bool ok : {true, false}) {
    SCOPED_TRACE(ok ? "OK" : "Cancel");
    TraceLog trace;
    qt::SettingsDialog dialog(Opposite(), trace.log, nullptr);
    QTimer::singleShot(0, &dialog, [&] {
      Click(dialog.Control(ui::kIdSetDefault));
      EXPECT_EQ(Shown(dialog), DefaultSettings());
      EXPECT_EQ(dialog.values(), Opposite());  // members untouched so far
      Click(dialog.Control(ok ? ui::kIdOk : ui::kIdCancel));
    });
    EXPECT_EQ(dialog.exec(), ok ? QDialog::Accepted : QDialog::Rejected);
    EXPECT_EQ(dialog.values(), ok ? DefaultSettings() : Opposite());
    std::vector<std::string> want = {" Set default"};
    if (ok) {
      // OK traces the members in its fixed order.
      want.insert(want.end(), {" m_a2dp\t\t\t= 0", " m_aec\t\t\t= 1", " m_callerid\t\t= 1",
                               " m_dialtone_dis\t= 0", " m_reverse_dis\t= 1",
                               " m_strong_ring\t= 0", " m_led_display\t= 0",
                               " m_dial_plan_index\t= 0", " m_offhook_pwr_index = 1",
                               " m_hook_speed_index\t= 2"});
    }
    EXPECT_EQ(trace.lines, want);
  }
}

// Escape cancels; Enter on a check box is the default button, OK.
TEST(QtWindowsTest, SettingsDialogEscapeCancelsAndEnterSaves) {
  for (bool enter : {false, true}) {
    SCOPED_TRACE(enter ? "Enter" : "Escape");
    qt::SettingsDialog dialog(Opposite(), untraced, nullptr);
    auto* caller_id = dialog.ControlAs<QCheckBox>(kIdCallerId);
    QTimer::singleShot(0, &dialog, [&] {
      ClickIndicator(caller_id);
      QTest::keyClick(caller_id, enter ? Qt::Key_Return : Qt::Key_Escape);
    });
    EXPECT_EQ(dialog.exec(), enter ? QDialog::Accepted : QDialog::Rejected);
    SettingsValues want = Opposite();
    if (enter) want.m_callerid = 1;
    EXPECT_EQ(dialog.values(), want);
  }
}

// Like a Windows check box, a click anywhere on the control toggles it, not
// only on the box and its text.
TEST(QtWindowsTest, CheckBoxTogglesOnBoxAndAcrossItsWidth) {
  qt::SettingsDialog dialog(DefaultSettings(), untraced, nullptr);
  dialog.show();
  auto* caller_id = dialog.ControlAs<QCheckBox>(kIdCallerId);
  ASSERT_TRUE(caller_id->isChecked());
  ClickIndicator(caller_id);
  EXPECT_FALSE(caller_id->isChecked());
  QTest::mouseClick(caller_id, Qt::LeftButton, Qt::NoModifier,
                    QPoint(caller_id->width() - 3, caller_id->height() / 2));
  EXPECT_TRUE(caller_id->isChecked());
  // Caller ID overlaps Echo Cancel by a few pixels; the first control of the
  // template is on top there.
  auto* echo = dialog.ControlAs<QCheckBox>(kIdEchoCancel);
  const QRect overlap = caller_id->geometry().intersected(echo->geometry());
  ASSERT_FALSE(overlap.isEmpty());
  EXPECT_EQ(dialog.childAt(overlap.center()), caller_id);
}

TEST(QtWindowsTest, HelpListsFortyOneLinesBesideItsOwner) {
  const SettingsValues start = Opposite();
  qt::SettingsDialog dialog(start, untraced, nullptr);
  bool helped = false;
  QTimer::singleShot(0, &dialog, [&] {
    WhenModal<qt::HelpDialog>(&dialog, [&](qt::HelpDialog* help) {
      helped = true;
      auto* list = help->ControlAs<QListWidget>(ui::kIdHelpList);
      ASSERT_EQ(list->count(), 41);
      EXPECT_EQ(Lines(list), kSettingsHelpText);
      EXPECT_EQ(list->item(40)->text(), "     during ringing. ");
      EXPECT_EQ(list->selectionMode(), QAbstractItemView::NoSelection);
      EXPECT_EQ(help->windowTitle(), "Help");
      // (150, 0) dialog units from the settings dialog's client area.
      const QPoint offset(qt::DuToPxX(150, help->units()), 0);
      EXPECT_EQ(help->pos(), dialog.mapToGlobal(QPoint(0, 0)) + offset);
      EXPECT_EQ(offset, QPoint(300, 0));
      Click(help->Control(ui::kIdOk));
    });
    Click(dialog.Control(ui::kIdSettingsHelp));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Shown(dialog), start);
    Click(dialog.Control(ui::kIdOk));
  });
  ASSERT_EQ(dialog.exec(), QDialog::Accepted);
  EXPECT_TRUE(helped);
  EXPECT_EQ(dialog.values(), start);
}

}  // namespace
}  // namespace brivelton::testing
