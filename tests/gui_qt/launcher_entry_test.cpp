// SPDX-License-Identifier: MIT
// The launcher's progress as a desktop reads it: the signal on a session bus
// of the test's own, and nothing at all without a bus.
#include "gui/qt/launcher_entry.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>
#include <QVariantMap>
#include <memory>
#include <tuple>
#include <vector>

namespace brivelton::testing {
namespace {

using qt::LauncherEntry;

class SignalLog : public QObject {
  Q_OBJECT

 public:
  struct Update {
    QString app;
    double progress;
    bool visible;
  };
  std::vector<Update> updates;

 public slots:
  void Take(const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    const QVariantMap properties = qdbus_cast<QVariantMap>(args.value(1));
    updates.push_back({args.value(0).toString(), properties.value("progress").toDouble(),
                       properties.value("progress-visible").toBool()});
  }
};

// A session bus of the test's own: a desktop's launcher listens on one.
class PrivateBus {
 public:
  PrivateBus() {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    if (!daemon_.waitForStarted(5000)) return;
    const QDeadlineTimer deadline(5000);
    while (!daemon_.canReadLine() && !deadline.hasExpired()) daemon_.waitForReadyRead(100);
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  }
  ~PrivateBus() {
    daemon_.kill();
    daemon_.waitForFinished(5000);
  }
  const QString& address() const { return address_; }

 private:
  QProcess daemon_;
  QString address_;
};

TEST(LauncherEntry, SendsItsProgressOnTheSessionBusAndNothingWithoutOne) {
  PrivateBus bus;
  ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start (scripts/install-deps)";
  QDBusConnection listener = QDBusConnection::connectToBus(bus.address(), "launcher-listener");
  ASSERT_TRUE(listener.isConnected());
  SignalLog log;
  ASSERT_TRUE(listener.connect(QString(), QStringLiteral("/org/brivelton/Utility"),
                               QStringLiteral("com.canonical.Unity.LauncherEntry"),
                               QStringLiteral("Update"), &log, SLOT(Take(QDBusMessage))));
  QDBusConnection sender = QDBusConnection::connectToBus(bus.address(), "launcher-sender");
  ASSERT_TRUE(sender.isConnected());

  // Bound to no bus: what it shows goes nowhere, and nothing fails.
  QDBusConnection none = QDBusConnection::connectToBus(
      QStringLiteral("unix:path=/nonexistent/brivelton-bus"), "launcher-none");
  ASSERT_FALSE(none.isConnected());
  {
    LauncherEntry nowhere(none);
    nowhere.Show(0.5, true);
  }

  {
    auto entry = std::make_unique<LauncherEntry>(sender);
    // Hidden already: nothing to say.
    entry->Show(0.7, false);
    entry->Show(0.25, true);
    entry->Show(0.25, true);
    entry->Show(0.5, true);
    // Gone with the window: the launcher must not keep a stale bar.
    entry.reset();
  }
  const QDeadlineTimer deadline(10000);
  while (log.updates.size() < 3 && !deadline.hasExpired()) QTest::qWait(10);
  // One sender's signals arrive in order: a late one would follow the last.
  QTest::qWait(100);

  const std::vector<std::tuple<double, bool>> want = {{0.25, true}, {0.5, true}, {0.0, false}};
  ASSERT_EQ(log.updates.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(log.updates[i].app, QStringLiteral("application://brivelton-utility.desktop"));
    EXPECT_DOUBLE_EQ(log.updates[i].progress, std::get<0>(want[i]));
    EXPECT_EQ(log.updates[i].visible, std::get<1>(want[i]));
  }
  QDBusConnection::disconnectFromBus("launcher-listener");
  QDBusConnection::disconnectFromBus("launcher-sender");
  QDBusConnection::disconnectFromBus("launcher-none");
}

}  // namespace
}  // namespace brivelton::testing

#include "launcher_entry_test.moc"
