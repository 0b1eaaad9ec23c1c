// SPDX-License-Identifier: MIT
#include "resources/firmware_file.h"

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <vector>
#ifndef _WIN32
#include <filesystem>
#include <system_error>
#endif

namespace brivelton {

Result<void> CheckImageOptions(const ImageOptions& options) {
  if (options.path && !options.version)
    return Error("option --image needs --image-version HEX, the version of the image, as in "
                 "--image-version 204");
  if (options.version && !options.path)
    return Error("option --image-version goes with --image FILE");
  if (options.version && !ParseVersionText(*options.version))
    return Error("bad image version '" + *options.version +
                 "'; give one to three hexadecimal digits, as in 204 for 2.04");
  return {};
}

Result<std::unique_ptr<FirmwareImage>> LoadFirmwareFile(const ImageOptions& options) {
  if (auto checked = CheckImageOptions(options); !checked) return checked.error();
  if (!options.path) return nullptr;
  const std::string& path = *options.path;
  const std::string reading = "can't read the firmware image " + path;
#ifndef _WIN32
  // A FIFO or a device would hold the read, or never end it. What can't be
  // looked at is left to the open below to name. (Windows has no FIFOs, and
  // <filesystem> would add most of a megabyte to its static .exe.)
  std::error_code failure;
  const auto type = std::filesystem::status(path, failure).type();
  if (!failure && type != std::filesystem::file_type::regular)
    return Error(type == std::filesystem::file_type::directory ? std::strerror(EISDIR)
                                                                : "not a regular file")
        .In(reading);
#endif
  // Plain stdio: the Windows build links everything statically, and streams
  // would double the size of the .exe.
  std::vector<uint8_t> bytes(kFirmwareSize + 1);  // one more tells a file too long
  errno = 0;
  FILE* file = std::fopen(path.c_str(), "rb");
  size_t got = 0;
  bool failed = !file;
  if (file) {
    got = std::fread(bytes.data(), 1, bytes.size(), file);
    failed = std::ferror(file) != 0;
    std::fclose(file);
  }
  if (failed) return Error(errno ? std::strerror(errno) : "read error").In(reading);
  bytes.resize(got);
  if (bytes.size() != size_t(kFirmwareSize))
    return Error("the firmware image " + path + " holds " +
                 (bytes.size() > size_t(kFirmwareSize) ? "more than 512000"
                                                       : std::to_string(bytes.size())) +
                 " bytes; it must hold exactly 512000 bytes (125 pages of 4096)");
  return std::make_unique<FirmwareImage>(std::move(bytes), *ParseVersionText(*options.version));
}

}  // namespace brivelton
