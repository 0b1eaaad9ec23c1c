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

Result<void> InstallPageImage(std::span<const uint8_t> bytes) {
  static_assert(BRIVELTON_IMAGE_SIZE == kFirmwareSize);
  if (bytes.size() != size_t(kFirmwareSize))
    return Error("The firmware image beside this page is not the one it was built with: " +
                 SizeProblem("firmware.bin", bytes.size()) + ".");
  auto image = std::make_unique<FirmwareImage>(std::vector<uint8_t>(bytes.begin(), bytes.end()),
                                               BRIVELTON_FIRMWARE_VERSION);
  const uint32_t expected = BRIVELTON_IMAGE_REGISTER;
  const auto& sum = image->checksum();
  const uint32_t got = uint32_t(sum[0]) | uint32_t(sum[1]) << 8 | uint32_t(sum[2]) << 16 |
                       uint32_t(sum[3]) << 24;
  if (got != expected)
    return Error("The firmware image beside this page is not the one it was built with (its "
                 "checksum differs); reload the page, or rebuild and copy the whole site again.");
  PageImage() = std::move(image);
  return {};
}

Result<std::unique_ptr<FirmwareImage>> CheckUserImage(const std::string& file_name,
                                                      std::span<const uint8_t> bytes,
                                                      const std::string& version) {
  if (version.empty())
    return Error("give the version of " + file_name +
                 " too: one to three hexadecimal digits, as 204 for 2.04");
  ImageOptions options;
  options.path = file_name;
  options.version = version;
  if (auto checked = CheckImageOptions(options); !checked) return checked.error();
  if (bytes.size() != size_t(kFirmwareSize)) return Error(SizeProblem(file_name, bytes.size()));
  return std::make_unique<FirmwareImage>(std::vector<uint8_t>(bytes.begin(), bytes.end()),
                                         *ParseVersionText(version));
}

}  // namespace web

}  // namespace brivelton
