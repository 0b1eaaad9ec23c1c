#include "update/firmware_image.h"

#include <cstdio>

#include "update/checksum.h"

extern "C" const uint8_t brivelton_firmware_image[];

#ifndef BRIVELTON_FIRMWARE_VERSION
#error "the build supplies BRIVELTON_FIRMWARE_VERSION"
#endif

namespace brivelton {

const uint32_t AvailableVersion = BRIVELTON_FIRMWARE_VERSION;

std::span<const uint8_t> FirmwareImage() {
  return {brivelton_firmware_image, static_cast<size_t>(kFirmwareSize)};
}

std::span<const uint8_t> FirmwarePage(int n) {
  if (n < 0 || n >= kFirmwarePages) return {};
  return FirmwareImage().subspan(static_cast<size_t>(n) * 4096, 4096);
}

std::string VersionText(uint32_t version) {
  char text[16];
  std::snprintf(text, sizeof text, "%X.%02X", (version >> 8) & 0xF,
                version & 0xFF);
  return text;
}

std::string AvailableVersionText() { return VersionText(AvailableVersion); }

const std::array<uint8_t, 4>& ExpectedChecksum() {
  static const std::array<uint8_t, 4> checksum = FlashChecksumOf(FirmwareImage());
  return checksum;
}

}  // namespace brivelton
