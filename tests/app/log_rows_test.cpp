// SPDX-License-Identifier: MIT
// The message list's rows: a log line broken at spaces, never cut, and the
// scroll rule counted in rows.
#include "app/log_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/message_log.h"

namespace brivelton {
namespace {

// One unit a character, so that the rows read as the widths they stand for.
int Chars(std::string_view text) { return static_cast<int>(text.size()); }

TEST(LogRows, LinesBreakAtSpacesWithTheRestIndentedAndNothingLost) {
  struct Case {
    const char* line;
    int width;
    std::vector<std::string> rows;
  };
  const std::vector<Case> cases = {
      {" Search Device ...", 30, {" Search Device ..."}},
      {" ", 30, {" "}},
      {"", 30, {""}},
      // As long as the list is wide: one row.
      {" 123456789", 10, {" 123456789"}},
      {" Identity page blank: restored address 5A:1B:3C:4D:5E:6F", 30,
       {" Identity page blank: restored", "address 5A:1B:3C:4D:5E:6F"}},
      {" Identity page blank: restored address 5A:1B:3C:4D:5E:6F", 24,
       {" Identity page blank:", "restored address", "5A:1B:3C:4D:5E:6F"}},
      // The line's own leading spaces stay, and never make a row of their own.
      {"         WARMING !!! FAILED !!!                       ", 20,
       {"         WARMING !!!", "FAILED !!!"}},
      // A word longer than a row is broken where it must be, all of it shown.
      {" /home/user/.local/state/brivelton/identity-5A1B3C4D5E6F", 20,
       {" /home/user/.local/s", "tate/brivelton/id", "entity-5A1B3C4D5E", "6F"}},
      // However narrow, every character somewhere.
      {"abc", 1, {"a", "b", "c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto rows = WrapLogLine(c.line, c.width, 3, Chars);
    EXPECT_EQ(rows, c.rows);
    for (size_t i = 0; i < rows.size(); ++i)
      EXPECT_LE(Chars(rows[i]), std::max(1, i == 0 ? c.width : c.width - 3)) << i;
  }
}

TEST(LogRows, TheScrollRuleCountsRows) {
  // One row a line: exactly the log's own rule.
  for (int count : {0, 1, 25, 26, 27, 100}) {
    SCOPED_TRACE(count);
    EXPECT_EQ(LogTopIndexOfRows(std::vector<int>(static_cast<size_t>(count), 1)),
              LogTopIndex(count));
  }
  struct Case {
    std::vector<int> rows;
    int top;
  };
  const std::vector<Case> cases = {
      // 24 lines, one of them in three rows: 26 rows, so the newest 23 rows
      // are the last 21 lines.
      {[] { std::vector<int> r(24, 1); r[20] = 3; return r; }(), 3},
      // 25 rows in all: left alone.
      {[] { std::vector<int> r(23, 1); r[0] = 3; return r; }(), -1},
      // A last entry taller than the view starts at the top.
      {{10, 10, 30}, 2},
      // Never a partial entry above the newest 23 rows.
      {{5, 5, 5, 5, 5, 5}, 2},
  };
  for (const Case& c : cases) EXPECT_EQ(LogTopIndexOfRows(c.rows), c.top);
}

}  // namespace
}  // namespace brivelton
