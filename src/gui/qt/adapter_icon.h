// SPDX-License-Identifier: MIT
#pragma once
#include <QIcon>

namespace brivelton::qt {

// Icon 128, the adapter drawing shared with the Windows build.
QIcon AdapterIcon();

}  // namespace brivelton::qt
