// SPDX-License-Identifier: MIT
#include "gui/qt/launcher_entry.h"

#include <QVariantMap>

namespace brivelton::qt {

QDBusMessage LauncherEntryUpdate(double progress, bool visible) {
  QDBusMessage signal = QDBusMessage::createSignal(
      QStringLiteral("/org/brivelton/Utility"), QStringLiteral("com.canonical.Unity.LauncherEntry"),
      QStringLiteral("Update"));
  QVariantMap properties;
  properties.insert(QStringLiteral("progress"), progress);
  properties.insert(QStringLiteral("progress-visible"), visible);
  signal << QStringLiteral("application://brivelton-utility.desktop") << properties;
  return signal;
}

LauncherEntry::LauncherEntry(QDBusConnection bus) : bus_(std::move(bus)) {}

LauncherEntry::~LauncherEntry() { Show(0, false); }

void LauncherEntry::Show(double progress, bool visible) {
  if (!visible) progress = 0;
  if (progress == progress_ && visible == visible_) return;
  progress_ = progress;
  visible_ = visible;
  if (bus_.isConnected()) bus_.send(LauncherEntryUpdate(progress, visible));
}

}  // namespace brivelton::qt
