#include "app/message_log.h"

#include <cstdio>
#include <utility>

namespace brivelton {

namespace {
TraceSink& Sink() {
  static TraceSink sink;
  return sink;
}
}  // namespace

std::string FormatLine(const char* format, va_list args) {
  char line[kLogLineSize];
  const int n = std::vsnprintf(line, sizeof line, format, args);
  if (n < 0) return {};
  return std::string(line);
}

int LogTopIndex(int count) { return count > 25 ? count - 23 : -1; }

void Trace(const char* format, ...) {
  if (!Sink()) return;
  va_list args;
  va_start(args, format);
  std::string line = FormatLine(format, args);
  va_end(args);
  Sink()(line);
}

void SetTraceSink(TraceSink sink) { Sink() = std::move(sink); }

}  // namespace brivelton
