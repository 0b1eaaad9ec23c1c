// SPDX-License-Identifier: MIT
#pragma once
// The lines the tool prints that both the in-process and the end-to-end
// tests expect.
#include <cstdint>
#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "link/link_state.h"
#include "resources/firmware_image.h"

namespace brivelton::testing {

// A version as the log writes it: three upper-case hexadecimal digits.
inline std::string Hex3(uint32_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%03X", static_cast<unsigned>(v));
  return text;
}

// Check Device's log for an adapter of `version` on `port`.
inline std::vector<std::string> CheckLog(const std::string& port, uint32_t version) {
  std::vector<std::string> log = {" Search Device ...", " Found device on " + port,
                                  " Device Firmware Version = " + Hex3(version),
                                  " Available Firmware for update = " + Hex3(BuiltInImage().version()),
                                  " "};
  if (version < BuiltInImage().version()) {
    log.insert(log.end(), {" There is newer firmware available.", " Click \"Update\" to update.",
                           version < 0x200 ? " Update firmware before set parameters."
                                           : " Click \"Setting\" to set parameters."});
  } else {
    log.insert(log.end(), {" You have latest or newer version.", " Click \"Update\" to overwrite.",
                           " Click \"Setting\" to set parameters."});
  }
  log.push_back(" ");
  return log;
}

// The progress lines the tool prints on stderr when it is no terminal.
inline bool IsProgressLine(const std::string& line) {
  static const std::regex progress(
      R"((Erasing|Writing|Verifying) \d{1,3}% \(\d+/\d+\)(\. Do not unplug the adapter\.)?)");
  return std::regex_match(line, progress);
}

// `err` without the progress lines.
inline std::string WithoutProgress(const std::string& err) {
  std::istringstream lines(err);
  std::string kept;
  for (std::string line; std::getline(lines, line);)
    if (!IsProgressLine(line)) kept += line + "\n";
  return kept;
}

// What `firmware` prints of `image`, before any "saved:" line.
inline std::string FirmwareDescription(const FirmwareImage& image = BuiltInImage()) {
  const auto& sum = image.checksum();
  char text[160];
  std::snprintf(text, sizeof text, "version: %s (0x%s)\n%ssize: 512000 bytes\n"
                "checksum: %02X %02X %02X %02X\n",
                VersionText(image.version()).c_str(), Hex3(image.version()).c_str(),
                image.placeholder() ? (std::string("note: ") + kPlaceholderNote + "\n").c_str()
                                    : "",
                sum[0], sum[1], sum[2], sum[3]);
  return text;
}

// The update warning on stderr, as the tool asks it for `image`.
inline std::string WarningPrompt(const FirmwareImage& image = BuiltInImage()) {
  return std::string("WARMING:\n"
                     "Update firmware will clear all paired Bluetooth devices information and "
                     "parameters.\n"
                     "Please re-pair the device after update.\n") +
         (image.placeholder() ? "This update writes firmware " + VersionText(image.version()) +
                                    " (" + kPlaceholderNote + ").\n"
                              : std::string()) +
         "Press \"OK\" to continue. [y/N] ";
}

inline std::vector<std::string> Concat(std::vector<std::string> a,
                                       const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace brivelton::testing
