// SPDX-License-Identifier: MIT
#pragma once
// Texts the windows add beside their templates' own: the About box's line
// for the firmware, and what the update warning says of a placeholder image.
#include <string>

#include "resources/firmware_image.h"

namespace brivelton {

// "Firmware 2.04", the image an update writes; with its note when it is the
// build's placeholder.
std::string AboutFirmwareLine(const FirmwareImage& image);
// Beside the update warning: "Firmware 2.04 is a placeholder for trying the
// utility, ..." for a placeholder image; empty otherwise.
std::string PlaceholderWarning(const FirmwareImage& image);

}  // namespace brivelton
