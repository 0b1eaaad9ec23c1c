// SPDX-License-Identifier: MIT
#pragma once
// The lines the tool prints that both the in-process and the end-to-end
// tests expect.
#include <cstdint>
#include <cstdio>
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

inline std::vector<std::string> Concat(std::vector<std::string> a,
                                       const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace brivelton::testing
