// SPDX-License-Identifier: MIT
#include "log/message_log.h"

#include <cstdio>
#include <utility>

namespace brivelton {

std::string FormatLine(const char* format, va_list args) {
  char line[kLogLineSize];
  const int n = std::vsnprintf(line, sizeof line, format, args);
  if (n < 0) return {};
  return std::string(line);
}

int LogTopIndex(int count) { return count > 25 ? count - 23 : -1; }

MessageLog::MessageLog(LineSink lines, LineSink trace)
    : lines_(std::move(lines)), trace_(std::move(trace)) {}

void MessageLog::LogLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = FormatLine(format, args);
  va_end(args);
  if (lines_) lines_(line);
}

void MessageLog::Trace(const char* format, ...) {
  if (!trace_) return;
  va_list args;
  va_start(args, format);
  std::string line = FormatLine(format, args);
  va_end(args);
  trace_(line);
}

}  // namespace brivelton
