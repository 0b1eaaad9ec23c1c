// SPDX-License-Identifier: MIT
// Check Device against an adapter whose every reply comes from the input:
// the probes' link checks, the restart pairs and the version query.
#include <algorithm>
#include <cstring>
#include <optional>

#include "discovery/version.h"
#include "reply_stream.h"

using namespace brivelton;

namespace {

constexpr char kMarker[] = "BN Version";
constexpr size_t kMarkerSpan = 16;  // the marker, " = ", three digits

// Whether the adapter sent a version text with these digits.
bool VersionSent(const fuzz::ReplyStream& stream, const std::array<char, 3>& digits) {
  return stream.AnySent(kMarkerSpan, [&](std::span<const uint8_t> run) {
    return std::memcmp(run.data(), kMarker, sizeof kMarker - 1) == 0 &&
           std::equal(digits.begin(), digits.end(), run.begin() + 13,
                      [](char digit, uint8_t sent) { return static_cast<uint8_t>(digit) == sent; });
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t setup = data[0];
  fuzz::Rig rig(std::span(data + 1, size - 1), setup & 1);
  AdapterFacts& facts = rig.stack.facts;
  const std::optional<int> known = (setup & 2) ? std::optional<int>(0x1FF) : std::nullopt;
  facts.DeviceVersion = known;

  rig.dialog.OnCheckDevice();

  const bool found = rig.view.Logged(" Found device on COM3");
  FUZZ_CHECK(found != rig.view.Logged(" Please check device connection."));
  // The adapter's port stays open after a find, and nothing else does.
  FUZZ_CHECK(rig.ports.open_ports() == (found ? 1 : 0));
  FUZZ_CHECK(!facts.DeviceVersion || (*facts.DeviceVersion >= 0 && *facts.DeviceVersion <= 0xFFF));
  if (rig.view.Logged(" Can't get version number")) FUZZ_CHECK(facts.DeviceVersion == known);

  // More queries on the open port: a version comes only from a whole version
  // text the adapter sent.
  for (int i = 0; i < 4 && found && !rig.stream.used_up(); ++i) {
    const std::optional<int> before = facts.DeviceVersion;
    const bool r = rig.stack.discovery.QueryFirmwareVersion();
    if (r) {
      FUZZ_CHECK(VersionSent(rig.stream, facts.VersionChars));
      FUZZ_CHECK(facts.DeviceVersion == ParseVersion3(facts.VersionChars[0], facts.VersionChars[1],
                                                      facts.VersionChars[2]));
    } else {
      FUZZ_CHECK(facts.DeviceVersion == before);
    }
  }
  return 0;
}
