// SPDX-License-Identifier: MIT
#pragma once
// What the utility has learned of the adapter itself, as against the link to
// it: its firmware version and the address its identity page carries. Kept by
// the protocol stack for the life of the process; the search and the update
// write it, the settings and the front ends read it.
#include <array>
#include <optional>

#include "link/bt_address.h"

namespace brivelton {

// Older firmware has no parameters to read or write.
inline constexpr int kFirstVersionWithSettings = 0x200;

struct AdapterFacts {
  // None until a version is read or an update writes the image's.
  std::optional<int> DeviceVersion;
  // The three characters the last query read the version from ("000" when
  // it found none).
  std::array<char, 3> VersionChars = {'0', '0', '0'};

  BtAddressBytes BtAddress = kDefaultBtAddress;
  // Whether this update's attempts have read the identity page.
  bool IdentityRead = false;
};

}  // namespace brivelton
