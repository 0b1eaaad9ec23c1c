// SPDX-License-Identifier: MIT
#include "gui/qt/adapter_icon.h"

namespace brivelton::qt {

QIcon AdapterIcon() { return QIcon(QStringLiteral(":/brivelton/adapter.ico")); }

}  // namespace brivelton::qt
