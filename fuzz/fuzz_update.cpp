// SPDX-License-Identifier: MIT
// The whole Update Firmware button, twenty attempts and all, with the replies
// of the groups of kinds the first byte names taken from the input.
#include "reply_stream.h"
#include "support/run_bounds.h"
#include "resources/firmware_image.h"

using namespace brivelton;
using enum brivelton::CommandKind;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t groups = data[0];
  fuzz::Rig rig(std::span(data + 1, size - 1), false);
  rig.stream.set_fuzzed([groups](CommandKind kind) {
    switch (kind) {
      case LinkCheck: return (groups & 0x01) != 0;
      case BootHandshake:
      case HandshakeBurstLong:
      case HandshakeBurstShort:
      case BootCommandFE: return (groups & 0x02) != 0;
      case SetBaud1M: return (groups & 0x04) != 0;
      case FlashReadPage: return (groups & 0x08) != 0;
      case FlashReadStatus:
      case FlashWriteStatus:
      case FlashErase: return (groups & 0x10) != 0;
      case FlashWritePage:
      case WriteIdentityPage: return (groups & 0x20) != 0;
      case FlashChecksum: return (groups & 0x40) != 0;
      default: return (groups & 0x80) != 0;  // the restart pair
    }
  });
  rig.stack.link.ReopenFoundPort();

  const uint64_t start = rig.clock.NowMs();
  rig.dialog.OnUpdateFirmware();

  FUZZ_CHECK(rig.view.results.size() == 1);
  const bool success = rig.view.results[0];
  FUZZ_CHECK(success == rig.view.Logged(" Success "));
  FUZZ_CHECK(success != rig.view.Logged(" Please re-install the device and try again."));
  if (success) {
    FUZZ_CHECK(rig.stack.facts.DeviceVersion == static_cast<int>(BuiltInImage().version()));
    FUZZ_CHECK(rig.ports.open_ports() == 0);
    FUZZ_CHECK(rig.stream.writes(FlashChecksum) > 0);
  } else {
    FUZZ_CHECK(rig.ports.open_ports() <= 1);
  }
  // Twenty attempts and their pauses take a bounded time, whatever the replies.
  FUZZ_CHECK(rig.clock.NowMs() - start <= UpdateBoundMs());
  return 0;
}
