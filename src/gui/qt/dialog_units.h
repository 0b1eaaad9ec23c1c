// SPDX-License-Identifier: MIT
#pragma once
// Dialog units to pixels, the way the Windows dialog manager converts them,
// so a template laid out for Arial 10 keeps its proportions here.
#include <QFont>
#include <QRect>

#include "resources/dialog_templates.h"

namespace brivelton::qt {

struct BaseUnits {
  int x = 0;  // average character width
  int y = 0;  // character height
};

// Rounded a * b / c, as the Windows MulDiv.
int MulDiv(int a, int b, int c);

// The template's font at the pixel size Windows would pick for its point size
// at the screen's logical resolution.
QFont DialogFont(const ui::DialogTemplate& dialog);
BaseUnits DialogBaseUnits(const QFont& font);

inline int DuToPxX(int x, const BaseUnits& u) { return MulDiv(x, u.x, 4); }
inline int DuToPxY(int y, const BaseUnits& u) { return MulDiv(y, u.y, 8); }
inline QRect DuToPx(int x, int y, int w, int h, const BaseUnits& u) {
  return QRect(DuToPxX(x, u), DuToPxY(y, u), DuToPxX(w, u), DuToPxY(h, u));
}

}  // namespace brivelton::qt
