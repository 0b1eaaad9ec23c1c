// SPDX-License-Identifier: MIT
// The firmware version query, and what the user is advised after it.
#include "discovery/version.h"

#include <algorithm>
#include <cstring>

#include "discovery/discovery.h"
#include "resources/hex_text.h"

namespace brivelton {

namespace {
constexpr char kVersionMarker[] = "BN Version";
constexpr size_t kMarkerLength = sizeof(kVersionMarker) - 1;
constexpr size_t kDigitsOffset = 13;  // "BN Version = 204"
constexpr size_t kMarkerSpan = kDigitsOffset + 3;
constexpr int kReopenTries = 10;
constexpr int kVersionTries = 10;
}  // namespace

int ParseVersion3(char c0, char c1, char c2) {
  return HexDigitValue(c0).value_or(0) << 8 | HexDigitValue(c1).value_or(0) << 4 |
         HexDigitValue(c2).value_or(0);
}

bool Discovery::QueryFirmwareVersion() {
  facts_.VersionChars = {'0', '0', '0'};
  const Reply answer = link_.Exchange(CommandKind::QueryVersion);
  if (!answer) return false;
  const auto reply = answer.bytes();
  for (size_t p = 0; p + kMarkerSpan <= reply.size(); ++p) {
    if (std::memcmp(reply.data() + p, kVersionMarker, kMarkerLength) != 0) continue;
    for (size_t i = 0; i < 3; ++i)
      facts_.VersionChars[i] = static_cast<char>(reply[p + kDigitsOffset + i]);
    const int version =
        ParseVersion3(facts_.VersionChars[0], facts_.VersionChars[1], facts_.VersionChars[2]);
    facts_.DeviceVersion = version;
    log_.LogLine(" Device Firmware Version = %03X", static_cast<unsigned>(version));
    log_.LogLine(" Available Firmware for update = %03X",
                 static_cast<unsigned>(available_version_));
    return true;
  }
  return false;
}

void Discovery::IdentifyDevice() {
  for (int i = 0; i < kReopenTries && !link_.ReopenFoundPort(); ++i) {
  }
  bool have_version = false;
  for (int i = 0; i < kVersionTries && !have_version; ++i)
    have_version = QueryFirmwareVersion();
  if (!have_version) {
    log_.LogLine(" ");
    log_.LogLine(" Can't get version number");
    log_.LogLine(" ");
  }
  LogAdvice();
}

void Discovery::LogAdvice() {
  // From the version as it now stands: the one just read, or an older one
  // when none came. None known advises as the oldest firmware would.
  const int version = facts_.DeviceVersion.value_or(0);
  log_.LogLine(" ");
  if (static_cast<uint32_t>(version) < available_version_) {
    log_.LogLine(" There is newer firmware available.");
    log_.LogLine(" Click \"Update\" to update.");
    if (version < kFirstVersionWithSettings)
      log_.LogLine(" Update firmware before set parameters.");
    else
      log_.LogLine(" Click \"Setting\" to set parameters.");
  } else {
    log_.LogLine(" You have latest or newer version.");
    log_.LogLine(" Click \"Update\" to overwrite.");
    log_.LogLine(" Click \"Setting\" to set parameters.");
  }
  log_.LogLine(" ");
}

}  // namespace brivelton
