// SPDX-License-Identifier: MIT
#pragma once
// What page.js lays the window out from: the dialog templates, the help
// lines and the texts the core keeps, as one JSON object.
#include <string>

namespace brivelton::web {

std::string PageTexts();

}  // namespace brivelton::web
