#include "app/main_dialog.h"

#include <cstdarg>

#include "app/message_log.h"

namespace brivelton {

MainDialog::MainDialog(MainView& view, Platform& platform)
    : view_(view), platform_(platform) {}

void MainDialog::LogLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = FormatLine(format, args);
  va_end(args);
  view_.AppendLog(line);
}

}  // namespace brivelton
