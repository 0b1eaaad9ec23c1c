// SPDX-License-Identifier: MIT
#pragma once
// A firmware image read from a file at run time, in place of the built-in
// one and under the same rules: exactly 512,000 bytes, its checksum computed
// from it, its version given alongside (--image FILE --image-version HEX).
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/result.h"
#include "resources/firmware_image.h"
#include "resources/hex_text.h"

namespace brivelton {

struct ImageOptions {
  std::optional<std::string> path;     // --image
  std::optional<std::string> version;  // --image-version, as typed
};

// Whether the options make sense without looking at the file: both or
// neither, and a version that parses. A one-line error when not.
Result<void> CheckImageOptions(const ImageOptions& options);

// The image the options name, read and checked; null with nothing named.
// A one-line error for bad options, a file that cannot be read or is no
// regular file, or one of the wrong size.
Result<std::unique_ptr<FirmwareImage>> LoadFirmwareFile(const ImageOptions& options);

}  // namespace brivelton
