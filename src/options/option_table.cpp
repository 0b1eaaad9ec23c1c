// SPDX-License-Identifier: MIT
#include "options/option_table.h"

namespace brivelton {

std::string ListInWords(const std::vector<std::string>& items, const char* last_separator) {
  if (items.empty()) return "nothing";
  std::string text = items[0];
  for (size_t i = 1; i < items.size(); ++i)
    text += (i + 1 == items.size() ? last_separator : ", ") + items[i];
  return text;
}

std::string Wrapped(const std::string& text, size_t indent, size_t width) {
  std::string out, line;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
      out += std::string(indent, ' ') + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) out += std::string(indent, ' ') + line + "\n";
  return out;
}

std::string HelpRow(const std::string& name, const std::string& help, size_t column) {
  std::string text, line = "  " + name;
  if (line.size() + 2 > column) {
    text = line + "\n";
    line.clear();
  }
  line.resize(column, ' ');
  for (size_t start = 0;;) {
    const size_t end = help.find('\n', start);
    text += line + help.substr(start, end - start) + "\n";
    if (end == std::string::npos) return text;
    start = end + 1;
    line = std::string(column, ' ');
  }
}

}  // namespace brivelton
