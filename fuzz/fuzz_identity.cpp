// SPDX-License-Identifier: MIT
// Reading the identity page from replies in the input, and the page built
// from whatever address that left.
#include <algorithm>
#include <cstring>

#include "reply_stream.h"
#include "resources/hex_text.h"
#include "update/identity_page.h"

using namespace brivelton;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Rig rig(std::span(data, size), false);
  const AdapterFacts& facts = rig.stack.facts;
  if (!rig.stack.link.ReopenFoundPort() || !rig.stack.link.ConfigurePort(kBootLoaderBaud)) return 0;

  for (int i = 0; i < 4 && !rig.stream.used_up(); ++i) {
    const auto before = facts.BtAddress;
    const bool r = rig.stack.updater.ReadIdentity();
    FUZZ_CHECK(facts.IdentityRead == r);
    if (!r) {
      FUZZ_CHECK(facts.BtAddress == before);
      continue;
    }
    // The address changes only to one the adapter sent ahead of the name.
    const auto& a = facts.BtAddress;
    if (a != before)
      FUZZ_CHECK(rig.stream.AnySent(8, [&](std::span<const uint8_t> run) {
        return std::equal(a.begin(), a.end(), run.begin()) && run[6] == 'B' && run[7] == 'r';
      }));
  }

  const auto page = BuildIdentityPage(facts.BtAddress);
  const auto& a = facts.BtAddress;
  FUZZ_CHECK(std::equal(a.begin(), a.end(), page.begin()));
  FUZZ_CHECK(std::memcmp(page.data() + 6, "Brivelton(", 10) == 0);
  FUZZ_CHECK(page[16] == HexDigit(a[1] & 0xF) && page[17] == HexDigit(a[0] >> 4) &&
             page[18] == HexDigit(a[0] & 0xF) && page[19] == ')');
  FUZZ_CHECK(std::all_of(page.begin() + 20, page.begin() + 38, [](uint8_t v) { return v == 0; }));
  FUZZ_CHECK(std::all_of(page.begin() + 38, page.end(), [](uint8_t v) { return v == 0xFF; }));
  return 0;
}
