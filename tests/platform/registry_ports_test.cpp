// SPDX-License-Identifier: MIT
// The Windows port list's handling of what the registry answers, on a key
// scripted here: every failure must still close what was opened and keep
// each readable port in its place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/port_names.h"
#include "platform/registry_ports.h"

namespace brivelton {
namespace {

struct Value {
  uint32_t type = kRegSz;
  std::string data;  // as stored, NULs included
  std::optional<size_t> reported;  // a length other than the data's
};

class ScriptedKey : public RegistryPortKey {
 public:
  bool opens = true;
  bool counts = true;
  std::vector<Value> values;
  std::set<uint32_t> unreadable;
  int open_calls = 0;
  int close_calls = 0;

  bool Open() override {
    ++open_calls;
    return opens;
  }
  void Close() override { ++close_calls; }
  std::optional<uint32_t> ValueCount() override {
    if (!counts) return std::nullopt;
    return static_cast<uint32_t>(values.size());
  }
  bool ReadValue(uint32_t index, uint32_t& type, std::span<uint8_t> data,
                 size_t& length) override {
    if (unreadable.count(index) || index >= values.size()) return false;
    const Value& v = values[index];
    type = v.type;
    std::memcpy(data.data(), v.data.data(), std::min(v.data.size(), data.size()));
    length = v.reported.value_or(v.data.size());
    return true;
  }
  std::vector<std::string> names;  // the values' own names, by index
  std::optional<std::string> ValueName(uint32_t index) override {
    if (unreadable.count(index) || index >= names.size()) return std::nullopt;
    return names[index];
  }
};

using Entries = std::vector<std::optional<std::string>>;

TEST(RegistryPorts, AMissingKeyIsNotClosed) {
  ScriptedKey key;
  key.opens = false;
  const PortListing listing = ListRegistryPorts(key);
  EXPECT_EQ(listing.status, PortListing::Status::kCantOpen);
  EXPECT_TRUE(listing.entries.empty());
  EXPECT_EQ(key.close_calls, 0);
}

TEST(RegistryPorts, AKeyThatCannotBeCountedIsClosed) {
  ScriptedKey key;
  key.counts = false;
  key.values = {{kRegSz, std::string("COM1\0", 5)}};
  const PortListing listing = ListRegistryPorts(key);
  EXPECT_EQ(listing.status, PortListing::Status::kCantQuery);
  EXPECT_TRUE(listing.entries.empty());
  EXPECT_EQ(key.close_calls, 1);
}

TEST(RegistryPorts, EachValueKeepsItsPlaceWhateverItHolds) {
  ScriptedKey key;
  key.values = {
      {kRegSz, std::string("COM3\0", 5)},
      {kRegSz, std::string("COM9\0", 5)},                 // unreadable below
      {4 /* a number */, std::string("\x01\0\0\0", 4)},  // not a name
      {kRegExpandSz, std::string("COM12")},               // not terminated
      {kRegSz, std::string("COM4\0junk", 9), 3},          // only "COM" returned
      {kRegSz, std::string(300, 'A'), 300},               // longer than the buffer
      {kRegSz, std::string("\0", 1)},                     // empty
  };
  key.unreadable = {1};
  const PortListing listing = ListRegistryPorts(key);
  EXPECT_EQ(listing.status, PortListing::Status::kOk);
  EXPECT_EQ(listing.entries, (Entries{"COM3", std::nullopt, std::nullopt, "COM12", "COM",
                                      std::string(256, 'A'), std::nullopt}));
  EXPECT_EQ(key.open_calls, 1);
  EXPECT_EQ(key.close_calls, 1);
}

TEST(RegistryPorts, AnEmptyKeyListsNothingAndIsClosed) {
  ScriptedKey key;
  const PortListing listing = ListRegistryPorts(key);
  EXPECT_EQ(listing.status, PortListing::Status::kOk);
  EXPECT_TRUE(listing.entries.empty());
  EXPECT_EQ(key.close_calls, 1);
}

// The value's name tells the driver behind a port: the first value that
// lists the port gives it, and the key is closed however the search ends.
TEST(RegistryPorts, DetailsNameTheValueThatListsThePort) {
  struct Case {
    const char* what;
    std::string port;
    bool opens;
    std::vector<PortDetail> details;
  };
  const Case cases[] = {
      {"listed", "COM4", true, {{"device", "\\Device\\VCP0"}}},
      {"listed twice", "COM3", true, {{"device", "\\Device\\Serial0"}}},
      {"not listed", "COM7", true, {}},
      {"listed by an unreadable value", "COM9", true, {}},
      {"no key", "COM4", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedKey key;
    key.opens = c.opens;
    key.values = {{kRegSz, std::string("COM3\0", 5)},
                  {kRegSz, std::string("COM9\0", 5)},
                  {kRegSz, std::string("COM4\0", 5)},
                  {kRegSz, std::string("COM3\0", 5)}};
    key.names = {"\\Device\\Serial0", "\\Device\\Serial1", "\\Device\\VCP0",
                 "\\Device\\Serial2"};
    key.unreadable = {1};
    EXPECT_EQ(RegistryPortDetails(key, c.port), c.details);
    EXPECT_EQ(key.open_calls, key.close_calls + (c.opens ? 0 : 1));
  }
}

}  // namespace
}  // namespace brivelton
