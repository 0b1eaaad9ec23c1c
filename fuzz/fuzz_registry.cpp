// SPDX-License-Identifier: MIT
// One value of the registry's list of serial ports: its type, the length the
// registry says it returned, and its data.
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/port_names.h"
#include "reply_stream.h"

using namespace brivelton;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t type = data[0] & 0x07;
  // As the lister offers it: a 256-byte buffer, and a returned length that a
  // misbehaving driver may state larger than the buffer.
  std::array<uint8_t, 256> buffer;
  buffer.fill(0xCC);
  const size_t copied = std::min(size - 2, buffer.size());
  std::memcpy(buffer.data(), data + 2, copied);
  const size_t returned = std::min<size_t>(size_t{data[1]} * 2, buffer.size());

  const auto name = RegistryPortName(type, std::span<const uint8_t>(buffer.data(), returned));
  if (!name) {
    FUZZ_CHECK((type != kRegSz && type != kRegExpandSz) || returned == 0 || buffer[0] == 0);
    return 0;
  }
  FUZZ_CHECK(type == kRegSz || type == kRegExpandSz);
  FUZZ_CHECK(!name->empty() && name->size() <= returned);
  FUZZ_CHECK(name->find('\0') == std::string::npos);
  FUZZ_CHECK(std::memcmp(name->data(), buffer.data(), name->size()) == 0);
  FUZZ_CHECK(name->size() == returned || buffer[name->size()] == 0);
  return 0;
}
