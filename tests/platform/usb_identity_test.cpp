// SPDX-License-Identifier: MIT
#include "platform/usb_instance_id.h"

#include <gtest/gtest.h>

#include "platform/port_list.h"

namespace brivelton {
namespace {

TEST(UsbInstanceId, VendorProductAndSerialNumber) {
  struct Case {
    const char* id;
    std::optional<UsbIdentity> identity;
  };
  const Case cases[] = {
      {"USB\\VID_0403&PID_6001\\A50285BI", UsbIdentity{"0403", "6001", "A50285BI"}},
      {"usb\\vid_0A12&pid_00fF\\abc", UsbIdentity{"0a12", "00ff", "abc"}},
      // Windows makes the instance up for a device without a serial number.
      {"USB\\VID_1A86&PID_7523\\5&2A1B3C4D&0&2", UsbIdentity{"1a86", "7523", ""}},
      // One interface of a composite device: its parent is the device.
      {"USB\\VID_0A12&PID_0001&MI_00\\6&1234ABCD&0&0000", std::nullopt},
      // A serial driver's own bus, above which the USB device sits.
      {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", std::nullopt},
      {"ACPI\\PNP0501\\1", std::nullopt},
      {"USB\\ROOT_HUB30\\4&1A2B3C&0&0", std::nullopt},
      {"USB\\VID_0403&PID_6001", std::nullopt},
      {"USB\\VID_0403&PID_6001\\", std::nullopt},
      {"USB\\VID_04G3&PID_6001\\X", std::nullopt},
      {"USB\\VID_0403&PID_60011\\X", std::nullopt},
      {"USB\\VID_0403&PID_6001\\A\\B", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(UsbIdentityFromInstanceId(c.id), c.identity);
  }
}

// A port named with --port is the device the system lists under that name:
// the journal sees its USB identity either way.
TEST(UsbIdentity, GivenPortsAreAskedOfTheSystem) {
  class SystemList : public FixedPortList {
   public:
    SystemList() : FixedPortList({"COM5"}) {}
    std::vector<PortDetail> Details(const std::string& name) const override {
      if (name != "COM5") return {};
      return {{"usb", "0403:6001"}};
    }
    UsbIdentity UsbIdentityOf(const std::string& name) const override {
      if (name != "COM5") return {};
      return {"0403", "6001", "A50285BI"};
    }
  } system;
  const FixedPortList given({"COM5", "COM7"}, {}, &system);
  EXPECT_EQ(given.UsbIdentityOf("COM5"), (UsbIdentity{"0403", "6001", "A50285BI"}));
  EXPECT_EQ(given.Details("COM5"), (std::vector<PortDetail>{{"usb", "0403:6001"}}));
  EXPECT_EQ(given.UsbIdentityOf("COM7"), UsbIdentity{});
  // Without a system list (tests, the page) nothing is known.
  const FixedPortList alone({"COM5"});
  EXPECT_EQ(alone.UsbIdentityOf("COM5"), UsbIdentity{});
  EXPECT_TRUE(alone.Details("COM5").empty());
}

}  // namespace
}  // namespace brivelton
