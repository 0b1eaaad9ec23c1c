// SPDX-License-Identifier: MIT
// Parameter reads and writes, and the Setting button, against replies from
// the input.
#include <algorithm>
#include <optional>

#include "params/settings_mapping.h"
#include "reply_stream.h"

using namespace brivelton;

namespace {

uint32_t Le32(std::span<const uint8_t> b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t edits = data[0];
  fuzz::Rig rig(std::span(data + 1, size - 1), false);
  LinkState& link = rig.stack.link.state();
  rig.stack.facts.DeviceVersion = 0x204;
  if (!rig.stack.link.ReopenFoundPort()) return 0;

  for (int op : kParamReadOrder) {
    const uint8_t sequence = link.ParamSequence;
    const std::optional<uint32_t> value = rig.stack.params.ReadParameter(op);
    const uint8_t advanced = static_cast<uint8_t>(link.ParamSequence - sequence);
    FUZZ_CHECK(advanced <= 1);
    if (value) {
      // Only a well-formed reply the adapter sent gives a value, and it is
      // that reply's.
      FUZZ_CHECK(advanced == 1);
      FUZZ_CHECK(rig.stream.AnySent(10, [&](std::span<const uint8_t> b) {
        return b[0] == 0x58 && b[1] == 0x53 && b[2] == 0x07 && b[4] == 0xEE && *value == Le32(b, 6);
      }));
    }
    FUZZ_CHECK(rig.ports.open_ports() <= 1);
  }
  for (int op : {1, 5}) {
    const uint8_t sequence = link.ParamSequence;
    const bool written = rig.stack.params.WriteParameter(op, edits);
    FUZZ_CHECK(static_cast<uint8_t>(link.ParamSequence - sequence) == (written ? 1 : 0));
  }

  // The Setting button: which members change comes from the first byte.
  rig.view.edit = [edits](SettingsValues& v) {
    if (edits & 0x01) v.m_callerid = !v.m_callerid;
    if (edits & 0x02) v.m_a2dp = !v.m_a2dp;
    if (edits & 0x04) v.m_hook_speed_index = (v.m_hook_speed_index + 1) % 4;
    if (edits & 0x08) v.m_offhook_pwr_index = (edits >> 4) % 6 - 1;  // -1: no choice
    if (edits & 0x10) v.m_strong_ring = !v.m_strong_ring;
    return (edits & 0x80) == 0;
  };
  const size_t from = rig.view.log.size();
  rig.dialog.OnSetting();
  FUZZ_CHECK(rig.view.log.size() > from);
  const std::string& last = rig.view.log.back();
  FUZZ_CHECK(last == " Set parameters successfully" || last == " Set parameters failed" ||
             last == " Set parameters cancelled");
  FUZZ_CHECK(rig.ports.open_ports() <= 1);
  return 0;
}
