// SPDX-License-Identifier: MIT
#include "web/page_image.h"

#include <vector>

#include "firmware_facts.h"
#include "resources/firmware_file.h"

#ifndef BRIVELTON_FIRMWARE_VERSION
#error "the build supplies BRIVELTON_FIRMWARE_VERSION"
#endif

namespace brivelton {

namespace {
std::unique_ptr<FirmwareImage>& PageImage() {
  static std::unique_ptr<FirmwareImage> image;
  return image;
}
}  // namespace

// Nothing runs the core before the image is installed: the page starts only
// then.
const FirmwareImage& BuiltInImage() { return *PageImage(); }

namespace web {

namespace {

std::string SizeProblem(const std::string& file, size_t size) {
  return "the firmware image " + file + " holds " + std::to_string(size) +
         " bytes; it must hold exactly 512000 bytes (125 pages of 4096)";
}

}  // namespace

bool InstallPageImage(std::span<const uint8_t> bytes, std::string& error) {
  static_assert(BRIVELTON_IMAGE_SIZE == kFirmwareSize);
  if (bytes.size() != size_t(kFirmwareSize)) {
    error = "The firmware image beside this page is not the one it was built with: " +
            SizeProblem("firmware.bin", bytes.size()) + ".";
    return false;
  }
  auto image = std::make_unique<FirmwareImage>(std::vector<uint8_t>(bytes.begin(), bytes.end()),
                                               BRIVELTON_FIRMWARE_VERSION);
  const uint32_t expected = BRIVELTON_IMAGE_REGISTER;
  const auto& sum = image->checksum();
  const uint32_t got = uint32_t(sum[0]) | uint32_t(sum[1]) << 8 | uint32_t(sum[2]) << 16 |
                       uint32_t(sum[3]) << 24;
  if (got != expected) {
    error = "The firmware image beside this page is not the one it was built with (its "
            "checksum differs); reload the page, or rebuild and copy the whole site again.";
    return false;
  }
  PageImage() = std::move(image);
  return true;
}

bool CheckUserImage(const std::string& file_name, std::span<const uint8_t> bytes,
                    const std::string& version, std::unique_ptr<FirmwareImage>& image,
                    std::string& error) {
  if (version.empty()) {
    error = "give the version of " + file_name + " too: one to three hexadecimal digits, as "
            "204 for 2.04";
    return false;
  }
  ImageOptions options;
  options.path = file_name;
  options.version = version;
  if (!CheckImageOptions(options, error)) return false;
  if (bytes.size() != size_t(kFirmwareSize)) {
    error = SizeProblem(file_name, bytes.size());
    return false;
  }
  image = std::make_unique<FirmwareImage>(std::vector<uint8_t>(bytes.begin(), bytes.end()),
                                          *ParseVersionText(version));
  return true;
}

}  // namespace web

}  // namespace brivelton
