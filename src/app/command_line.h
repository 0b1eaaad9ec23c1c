// SPDX-License-Identifier: MIT
#pragma once
// What the windows and the command-line tool share on their command lines:
// the port and image options, and the programs' version.
#include <string>
#include <vector>

#include "options/option_table.h"
#include "resources/firmware_file.h"

namespace brivelton {

// The options the windows and the command-line tool share, each with the
// rules and the error texts it has everywhere. `Args` has `ports` and `image`.
bool TakePort(std::vector<std::string>& ports, const std::string& value, std::string& error);
bool TakeImagePath(ImageOptions& image, const std::string& value, std::string& error);
bool TakeImageVersion(ImageOptions& image, const std::string& value, std::string& error);
#ifdef _WIN32
inline constexpr const char* kPortExample = "COM3";
#else
inline constexpr const char* kPortExample = "/dev/ttyUSB0";
#endif
inline constexpr const char* kPortNeeds = "a port name, as in --port "
#ifdef _WIN32
                                          "COM3";
#else
                                          "/dev/ttyUSB0";
#endif
inline constexpr const char* kImagePathNeeds = "a file name, as in --image firmware.bin";
inline constexpr const char* kImageVersionNeeds =
    "the image's version in hexadecimal, as in --image-version 204";

template <class Args>
constexpr Option<Args> PortOption(const char* help, const char* short_name = nullptr) {
  return {"--port", short_name, "NAME", OptionValue::kPort, kPortNeeds,
          [](Args& a, const std::string& v, std::string& e) { return TakePort(a.ports, v, e); },
          help};
}
template <class Args>
constexpr Option<Args> ImagePathOption(const char* help, unsigned commands = 0) {
  return {"--image", nullptr, "FILE", OptionValue::kFile, kImagePathNeeds,
          [](Args& a, const std::string& v, std::string& e) { return TakeImagePath(a.image, v, e); },
          help, commands};
}
template <class Args>
constexpr Option<Args> ImageVersionOption(const char* help, unsigned commands = 0) {
  return {"--image-version", nullptr, "HEX", OptionValue::kText, kImageVersionNeeds,
          [](Args& a, const std::string& v, std::string& e) {
            return TakeImageVersion(a.image, v, e);
          },
          help, commands};
}

// The version of the programs, as the build names it ("2.4").
const char* ProgramVersion();

// What --version prints: the program's version and the built-in firmware's,
// one line each.
std::string VersionLines(const char* program);

}  // namespace brivelton
