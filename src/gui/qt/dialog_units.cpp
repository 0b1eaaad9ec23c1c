// SPDX-License-Identifier: MIT
#include "gui/qt/dialog_units.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>

namespace brivelton::qt {

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const long long p = static_cast<long long>(a) * b;
  const long long half = (c > 0 ? c : -c) / 2;
  // Round half away from zero.
  const long long r = ((p < 0) != (c < 0)) ? (p - half) / c : (p + half) / c;
  return static_cast<int>(r);
}

QFont DialogFont(const ui::DialogTemplate& dialog) {
  QFont font(QString::fromLatin1(dialog.font));
  int dpi = 96;
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    dpi = qRound(screen->logicalDotsPerInchY());
  font.setPixelSize(MulDiv(dialog.font_points, dpi, 72));
  return font;
}

BaseUnits DialogBaseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return BaseUnits{(width / 26 + 1) / 2, metrics.height()};
}

}  // namespace brivelton::qt
