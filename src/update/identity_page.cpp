// SPDX-License-Identifier: MIT
#include "update/identity_page.h"

#include <algorithm>
#include <cstring>

#include "link/frames.h"
#include "resources/hex_text.h"

namespace brivelton {

std::array<uint8_t, kPageSize> BuildIdentityPage(
    const BtAddressBytes& address) {
  std::array<uint8_t, kPageSize> page;
  page.fill(0xFF);
  std::copy(address.begin(), address.end(), page.begin());
  static constexpr char kPrefix[] = "Brivelton(";
  std::memcpy(&page[6], kPrefix, 10);
  page[16] = static_cast<uint8_t>(HexDigit(address[1] & 0x0F));
  page[17] = static_cast<uint8_t>(HexDigit(address[0] >> 4));
  page[18] = static_cast<uint8_t>(HexDigit(address[0] & 0x0F));
  page[19] = ')';
  std::fill(page.begin() + 20, page.begin() + 38, 0x00);
  return page;
}

}  // namespace brivelton
