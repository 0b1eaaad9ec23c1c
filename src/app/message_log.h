#pragma once
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

// The developer's channel. Discarded unless a sink is installed.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
using TraceSink = std::function<void(const std::string&)>;
void SetTraceSink(TraceSink sink);

}  // namespace brivelton
