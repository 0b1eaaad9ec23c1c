// SPDX-License-Identifier: MIT
#include "app/command_line.h"

namespace brivelton {

std::string ListInWords(const std::vector<std::string>& items, const char* last_separator) {
  if (items.empty()) return "nothing";
  std::string text = items[0];
  for (size_t i = 1; i < items.size(); ++i)
    text += (i + 1 == items.size() ? last_separator : ", ") + items[i];
  return text;
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

namespace {

bool TakeOnce(std::optional<std::string>& slot, const char* option, const char* needs,
              const std::string& value, std::string& error) {
  if (value.empty())
    error = std::string("option ") + option + " needs " + needs;
  else if (slot)
    error = std::string("option ") + option + " is given twice; give it once";
  else
    slot = value;
  return error.empty();
}

}  // namespace

bool TakePort(std::vector<std::string>& ports, const std::string& value, std::string& error) {
  if (value.empty()) {
    error = std::string("option --port needs a port name that is not empty, as in --port ") +
            kPortExample;
    return false;
  }
  ports.push_back(value);
  return true;
}

bool TakeImagePath(ImageOptions& image, const std::string& value, std::string& error) {
  return TakeOnce(image.path, "--image", kImagePathNeeds, value, error);
}

bool TakeImageVersion(ImageOptions& image, const std::string& value, std::string& error) {
  return TakeOnce(image.version, "--image-version", kImageVersionNeeds, value, error);
}

}  // namespace brivelton
