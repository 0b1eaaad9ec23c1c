// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <cstdio>

#include "resources/firmware_image.h"

namespace brivelton {

const char* ProgramVersion() { return BRIVELTON_VERSION; }

std::string VersionLines(const char* program) {
  const uint32_t firmware = BuiltInImage().version();
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%03X", static_cast<unsigned>(firmware));
  return std::string(program) + " " + ProgramVersion() + "\nbuilt-in firmware " +
         VersionText(firmware) + " (" + hex +
         (BuiltInImage().placeholder() ? std::string("; ") + kPlaceholderNote : "") + ")\n";
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
