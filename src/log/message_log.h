// SPDX-License-Identifier: MIT
#pragma once
// The message log the user reads and the trace the developer reads, both
// printf-style into one 256-byte line. Each log writes to the sinks its owner
// gives it; nothing here is process-wide.
#include <cstdarg>
#include <functional>
#include <string>

namespace brivelton {

inline constexpr int kLogLineSize = 256;  // 255 characters and the NUL

// printf-style formatting into one log line; longer text is cut at 255.
std::string FormatLine(const char* format, va_list args);

// The list's scroll rule: past 25 entries the entry to put on top so that the
// newest 23 are in view; -1 to leave the scroll position alone.
int LogTopIndex(int count);

using LineSink = std::function<void(const std::string&)>;

class MessageLog {
 public:
  // Without a trace sink the trace is discarded, unformatted.
  explicit MessageLog(LineSink lines = {}, LineSink trace = {});

  void LogLine(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Trace(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  LineSink lines_;
  LineSink trace_;
};

}  // namespace brivelton
