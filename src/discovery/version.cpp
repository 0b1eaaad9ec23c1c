// The firmware version query and the Check Device button.
#include "discovery/version.h"

#include <algorithm>
#include <cstring>

#include "app/main_dialog.h"
#include "update/firmware_image.h"

namespace brivelton {

namespace {
constexpr char kVersionMarker[] = "BN Version";
constexpr size_t kMarkerLength = sizeof(kVersionMarker) - 1;
constexpr size_t kDigitsOffset = 13;  // "BN Version = 204"
constexpr size_t kMarkerSpan = kDigitsOffset + 3;
constexpr int kSettingMinVersion = 0x200;
constexpr int kReopenTries = 10;
constexpr int kVersionTries = 10;
}  // namespace

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

int ParseVersion3(char c0, char c1, char c2) {
  return ((HexValue(c0) * 256) % 0x1000) | ((HexValue(c1) * 16) % 0x100) |
         (HexValue(c2) % 0x10);
}

int MainDialog::QueryFirmwareVersion() {
  link_.VersionChars = {'0', '0', '0'};
  if (!Exchange(QueryVersion)) return 0;
  // Only what this reply delivered counts: the bytes past it still hold an
  // earlier reply, whose marker would pass an old version off as current.
  const auto& reply = link_.ReplyBuffer;
  const auto delivered = static_cast<size_t>(link_.ReplyFresh);
  for (size_t p = 0; p + kMarkerSpan <= delivered; ++p) {
    if (std::memcmp(reply.data() + p, kVersionMarker, kMarkerLength) != 0) continue;
    for (size_t i = 0; i < 3; ++i)
      link_.VersionChars[i] = static_cast<char>(reply[p + kDigitsOffset + i]);
    link_.DeviceVersion = ParseVersion3(link_.VersionChars[0], link_.VersionChars[1],
                                        link_.VersionChars[2]);
    LogLine(" Device Firmware Version = %03X", static_cast<unsigned>(link_.DeviceVersion));
    LogLine(" Available Firmware for update = %03X", static_cast<unsigned>(AvailableVersion));
    return 1;
  }
  return 0;
}

void MainDialog::OnCheckDevice() {
  if (!FindDevice()) {
    view_.ShowButton(kIdUpdateFirmware, false);
    view_.ShowButton(kIdSetting, false);
    LogLine(" ");
    LogLine(" Please check device connection.");
    LogLine(" ");
    return;
  }
  view_.ShowButton(kIdUpdateFirmware, true);
  view_.ShowButton(kIdSetting, true);

  for (int i = 0; i < kReopenTries && !ReopenFoundPort(); ++i) {
  }
  bool have_version = false;
  for (int i = 0; i < kVersionTries && !have_version; ++i)
    have_version = QueryFirmwareVersion() == 1;
  if (!have_version) {
    LogLine(" ");
    LogLine(" Can't get version number");
    LogLine(" ");
  }

  // Advice from the version as it now stands: the one just read, or an older
  // one when none came.
  const auto version = static_cast<uint32_t>(link_.DeviceVersion);
  LogLine(" ");
  if (version < AvailableVersion) {
    LogLine(" There is newer firmware available.");
    LogLine(" Click \"Update\" to update.");
    if (link_.DeviceVersion < kSettingMinVersion)
      LogLine(" Update firmware before set parameters.");
    else
      LogLine(" Click \"Setting\" to set parameters.");
  } else {
    LogLine(" You have latest or newer version.");
    LogLine(" Click \"Update\" to overwrite.");
    LogLine(" Click \"Setting\" to set parameters.");
  }
  LogLine(" ");
}

}  // namespace brivelton
