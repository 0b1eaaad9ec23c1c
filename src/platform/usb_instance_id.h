// SPDX-License-Identifier: MIT
#pragma once
// Windows names each device by an instance ID; a USB device's carries its
// vendor, product and serial number.
#include <optional>
#include <string_view>

#include "platform/port_list.h"

namespace brivelton {

// From a device instance ID ("USB\VID_0403&PID_6001\A50285BI"): none unless
// it names a USB device itself (not one of its interfaces). The serial number
// stays empty where the instance part has an '&': Windows made that one up
// for a device without a serial number.
std::optional<UsbIdentity> UsbIdentityFromInstanceId(std::string_view id);

}  // namespace brivelton
