// SPDX-License-Identifier: MIT
// Flash programming up to its checksum compare, with the checksum replies
// (and, as the first byte asks, the unlock, erase and page-write replies) from
// the input.
#include <algorithm>

#include "reply_stream.h"
#include "resources/firmware_image.h"

using namespace brivelton;
using enum brivelton::CommandKind;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t groups = data[0];
  fuzz::Rig rig(std::span(data + 1, size - 1), false);
  rig.stream.set_fuzzed([groups](CommandKind kind) {
    switch (kind) {
      case FlashChecksum: return true;
      case FlashReadStatus:
      case FlashWriteStatus: return (groups & 1) != 0;
      case FlashErase: return (groups & 2) != 0;
      case FlashWritePage:
      case WriteIdentityPage: return (groups & 4) != 0;
      default: return false;
    }
  });
  LinkState& link = rig.stack.link.state();
  if (!rig.stack.link.ReopenFoundPort() || !rig.stack.link.ConfigurePort(kBootLoaderBaud)) return 0;

  for (int i = 0; i < 3 && !rig.stream.used_up(); ++i) {
    const size_t from = rig.view.log.size();
    const int r = rig.stack.updater.ProgramFlash();
    if (r) {
      // Verified only by a whole reply carrying the image's checksum, and the
      // identity page read back after it.
      const auto& sum = rig.stream.last_reply(FlashChecksum);
      FUZZ_CHECK(static_cast<int>(sum.size()) == ExpectedReplyLength(FlashChecksum));
      const auto& expected = BuiltInImage().checksum();
      FUZZ_CHECK(std::equal(expected.begin(), expected.end(), sum.begin() + 7));
      FUZZ_CHECK(link.LastKind == FlashReadPage);
      FUZZ_CHECK(rig.view.log.back() == " Done");
    } else {
      // Every failure names itself in the log.
      const std::string& last = rig.view.log.back();
      FUZZ_CHECK(rig.view.log.size() > from);
      FUZZ_CHECK(last.rfind(" Fail", 0) == 0 || last == " !!!!! CRC error !!!!! " ||
                 last.rfind(" Identity page", 0) == 0);
    }
  }
  return 0;
}
