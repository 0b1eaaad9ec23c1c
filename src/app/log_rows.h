// SPDX-License-Identifier: MIT
#pragma once
// The message list's lines as a window shows them: never cut, but broken at
// spaces into rows as wide as the list, the rows after the first indented;
// and the list's scroll rule counted in those rows.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brivelton {

// How wide a text is drawn, in the window's own units (pixels).
using TextWidth = std::function<int(std::string_view text)>;

// `line` in rows no wider than `width`; the rows after the first are drawn
// `indent` further in and are that much narrower. A word wider than a row is
// broken where it must be. An empty line is one empty row.
std::vector<std::string> WrapLogLine(std::string_view line, int width, int indent,
                                     const TextWidth& measure);

// The log's rule in rows: past 25 rows in all, the entry to put on top so
// that the newest 23 rows are in view (the last entry on top when it alone
// is taller); -1 to leave the scroll position alone. With one row an entry,
// LogTopIndex's rule exactly.
int LogTopIndexOfRows(const std::vector<int>& rows);

}  // namespace brivelton
