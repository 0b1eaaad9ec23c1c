// SPDX-License-Identifier: MIT
// The image inside the program. Its own file, so that a program carrying its
// image beside it (the web page) links its own BuiltInImage() instead.
#include "resources/firmware_image.h"

extern "C" const uint8_t brivelton_firmware_image[];

#ifndef BRIVELTON_FIRMWARE_VERSION
#error "the build supplies BRIVELTON_FIRMWARE_VERSION"
#endif

namespace brivelton {

const FirmwareImage& BuiltInImage() {
  static const FirmwareImage image(
      std::vector<uint8_t>(brivelton_firmware_image, brivelton_firmware_image + kFirmwareSize),
      BRIVELTON_FIRMWARE_VERSION);
  return image;
}

}  // namespace brivelton
