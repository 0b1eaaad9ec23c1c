// SPDX-License-Identifier: MIT
#include "app/log_rows.h"

#include <algorithm>
#include <numeric>

namespace brivelton {

namespace {

constexpr int kScrollPastRows = 25;
constexpr int kRowsInView = 23;

}  // namespace

std::vector<std::string> WrapLogLine(std::string_view line, int width, int indent,
                                     const TextWidth& measure) {
  std::vector<std::string> rows;
  std::string_view rest = line;
  for (;;) {
    const int room = rows.empty() ? width : width - indent;
    if (rest.empty() || measure(rest) <= room) {
      if (!rest.empty() || rows.empty()) rows.emplace_back(rest);
      return rows;
    }
    // The longest start that fits, then back to its last space; a row
    // takes at least one character, however narrow the list.
    size_t fits = 1;
    for (size_t n = 2; n <= rest.size() && measure(rest.substr(0, n)) <= room; ++n) fits = n;
    size_t cut = fits;
    if (rest[fits] != ' ') {
      const size_t space = rest.substr(0, fits).find_last_of(' ');
      // Only a space after the row's own leading ones breaks it.
      const size_t lead = rest.find_first_not_of(' ');
      if (space != std::string_view::npos && lead != std::string_view::npos && space > lead)
        cut = space;
    }
    std::string_view row = rest.substr(0, cut);
    while (row.size() > 1 && row.back() == ' ') row.remove_suffix(1);
    rows.emplace_back(row);
    rest.remove_prefix(cut);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.empty()) return rows;
  }
}

int LogTopIndexOfRows(const std::vector<int>& rows) {
  if (std::accumulate(rows.begin(), rows.end(), 0) <= kScrollPastRows) return -1;
  int top = static_cast<int>(rows.size()) - 1;
  int in_view = rows.empty() ? 0 : rows.back();
  while (top > 0 && in_view + rows[static_cast<size_t>(top - 1)] <= kRowsInView)
    in_view += rows[static_cast<size_t>(--top)];
  return top;
}

}  // namespace brivelton
