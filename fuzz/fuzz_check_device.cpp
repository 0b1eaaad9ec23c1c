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

// Whether the first `delivered` bytes of the reply hold a whole version text.
bool MarkerDelivered(const LinkState& link) {
  const size_t delivered =
      std::min<size_t>(static_cast<size_t>(std::max(link.ReceivedCount, 0)), link.ReplyBuffer.size());
  for (size_t p = 0; p + kMarkerSpan <= delivered; ++p)
    if (std::memcmp(link.ReplyBuffer.data() + p, kMarker, sizeof kMarker - 1) == 0) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t setup = data[0];
  fuzz::Rig rig(std::span(data + 1, size - 1), setup & 1);
  LinkState& link = rig.stack.link.state();
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

  // More queries on the open port, each over a buffer that still holds an
  // older version text: a version may come only from the bytes just received.
  for (int i = 0; i < 4 && found && !rig.stream.used_up(); ++i) {
    static constexpr char kStale[] = "\r\nBN Version = 9AB\r\n";
    std::memcpy(link.ReplyBuffer.data(), kStale, sizeof kStale - 1);
    const std::optional<int> before = facts.DeviceVersion;
    const bool r = rig.stack.discovery.QueryFirmwareVersion();
    if (r) {
      FUZZ_CHECK(MarkerDelivered(link));
      FUZZ_CHECK(facts.DeviceVersion == ParseVersion3(facts.VersionChars[0], facts.VersionChars[1],
                                                      facts.VersionChars[2]));
    } else {
      FUZZ_CHECK(facts.DeviceVersion == before);
    }
  }
  return 0;
}
