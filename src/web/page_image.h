// SPDX-License-Identifier: MIT
#pragma once
// The page carries its firmware image beside it, as a file of its own: this
// is the program's built-in image once its size and checksum are found to be
// those the build recorded. BuiltInImage() is defined here for the page.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/result.h"
#include "resources/firmware_image.h"

namespace brivelton::web {

// Takes the fetched image when it is the one the page was built with; the
// error is the sentence the page shows otherwise.
Result<void> InstallPageImage(std::span<const uint8_t> bytes);

// The user's own image under the rules of --image: exactly 512,000 bytes and
// a version of one to three hexadecimal digits given with it.
Result<std::unique_ptr<FirmwareImage>> CheckUserImage(const std::string& file_name,
                                                      std::span<const uint8_t> bytes,
                                                      const std::string& version);

}  // namespace brivelton::web
