// SPDX-License-Identifier: MIT
// Port names as the kernel might list them: the filter of virtual terminals
// and the natural order, which std::sort needs to be a strict weak order.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/port_names.h"
#include "reply_stream.h"

using namespace brivelton;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> names;
  std::string current;
  for (size_t i = 0; i < size && names.size() < 12; ++i) {
    if (data[i] == '\n') {
      names.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (names.size() < 12) names.push_back(current);

  for (const auto& n : names) {
    const bool is_virtual = IsVirtualTtyName(n);
    if (n == "console" || n == "ptmx" || n == "tty") FUZZ_CHECK(is_virtual);
    if (!n.starts_with("tty") && n != "console" && n != "ptmx") FUZZ_CHECK(!is_virtual);
  }

  auto less = [](const std::string& a, const std::string& b) { return NaturalPortLess(a, b); };
  auto same = [&](const std::string& a, const std::string& b) { return !less(a, b) && !less(b, a); };
  for (const auto& a : names) {
    FUZZ_CHECK(!less(a, a));
    for (const auto& b : names) {
      if (less(a, b)) FUZZ_CHECK(!less(b, a));
      // Only equal names are equivalent: the order is total.
      FUZZ_CHECK(same(a, b) == (a == b));
      for (const auto& c : names)
        if (less(a, b) && less(b, c)) FUZZ_CHECK(less(a, c));
    }
  }
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end(), less);
  FUZZ_CHECK(std::is_sorted(sorted.begin(), sorted.end(), less));
  FUZZ_CHECK(std::is_permutation(sorted.begin(), sorted.end(), names.begin()));
  return 0;
}
