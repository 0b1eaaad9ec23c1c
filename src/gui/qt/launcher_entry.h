// SPDX-License-Identifier: MIT
#pragma once
// The update's progress on the launcher's icon, for the desktops that show one
// (they read the LauncherEntry signal from the session bus). Without a session
// bus it does nothing.
#include <QDBusConnection>
#include <QDBusMessage>

namespace brivelton::qt {

class LauncherEntry {
 public:
  explicit LauncherEntry(QDBusConnection bus = QDBusConnection::sessionBus());
  ~LauncherEntry();
  LauncherEntry(const LauncherEntry&) = delete;
  LauncherEntry& operator=(const LauncherEntry&) = delete;

  // `progress` from 0 to 1; sent only when it differs from what was sent last.
  void Show(double progress, bool visible);

 private:
  QDBusConnection bus_;
  double progress_ = 0;
  bool visible_ = false;
};

// The signal itself: the desktop file it is about, the progress and whether
// it shows.
QDBusMessage LauncherEntryUpdate(double progress, bool visible);

}  // namespace brivelton::qt
