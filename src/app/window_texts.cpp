// SPDX-License-Identifier: MIT
#include "app/window_texts.h"

namespace brivelton {

std::string AboutFirmwareLine(const FirmwareImage& image) {
  std::string line = "Firmware " + VersionText(image.version());
  if (image.placeholder()) line += std::string(": ") + kPlaceholderNote;
  return line;
}

std::string PlaceholderWarning(const FirmwareImage& image) {
  if (!image.placeholder()) return {};
  return "Firmware " + VersionText(image.version()) + " is " + kPlaceholderNote + ".";
}

}  // namespace brivelton
