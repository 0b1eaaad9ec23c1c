// SPDX-License-Identifier: MIT
#pragma once
// Keeps the trace lines of the log a test hands `sink()` to; each capture
// belongs to its own log, so nothing outlives the test.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "log/message_log.h"

namespace brivelton::testing {

struct TraceCapture {
  LineSink sink() {
    return [this](const std::string& line) {
      lines.push_back(line);
      if (on_line) on_line(line);
    };
  }
  bool Traced(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::vector<std::string> lines;
  // Called after each line is kept: a test may act at a given trace point.
  std::function<void(const std::string&)> on_line;
};

}  // namespace brivelton::testing
