// SPDX-License-Identifier: MIT
#include "resources/firmware_image.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

#include "resources/checksum.h"

namespace brivelton {

FirmwareImage::FirmwareImage(std::vector<uint8_t> bytes, uint32_t version)
    : bytes_(std::move(bytes)), version_(version), checksum_(FlashChecksumOf(bytes_)) {}

bool FirmwareImage::placeholder() const {
  const std::string_view mark = kPlaceholderMark;
  return bytes_.size() >= mark.size() && std::equal(mark.begin(), mark.end(), bytes_.begin());
}

std::span<const uint8_t> FirmwareImage::Page(int n) const {
  const size_t start = static_cast<size_t>(n) * kPageSize;
  if (n < 0 || start + kPageSize > bytes_.size()) return {};
  return std::span(bytes_).subspan(start, kPageSize);
}

std::string VersionText(uint32_t version) {
  char text[16];
  std::snprintf(text, sizeof text, "%X.%02X", (version >> 8) & 0xF,
                version & 0xFF);
  return text;
}

}  // namespace brivelton
