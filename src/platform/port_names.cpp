// SPDX-License-Identifier: MIT
#include "platform/port_names.h"

#include <algorithm>
#include <cstdio>

namespace brivelton {

std::optional<std::string> RegistryPortName(uint32_t type,
                                            std::span<const uint8_t> data) {
  if (type != kRegSz && type != kRegExpandSz) return std::nullopt;
  const auto end = std::find(data.begin(), data.end(), uint8_t{0});
  if (end == data.begin()) return std::nullopt;
  return std::string(data.begin(), end);
}

namespace {

std::vector<std::string> Numbered(const char* prefix, int count) {
  std::vector<std::string> names;
  char buffer[64];
  for (int i = 0; i < count; ++i) {
    std::snprintf(buffer, sizeof buffer, "%s%d", prefix, i);
    names.emplace_back(buffer);
  }
  return names;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The name split into its stem and trailing digits.
struct NameKey {
  std::string_view stem;
  std::string_view digits;
};

NameKey SplitName(std::string_view name) {
  size_t cut = name.size();
  while (cut > 0 && IsDigit(name[cut - 1])) --cut;
  return {name.substr(0, cut), name.substr(cut)};
}

// Compares digit strings as numbers of any length.
int CompareNumbers(std::string_view a, std::string_view b) {
  while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
  while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

}  // namespace

std::vector<std::string> WindowsFallbackPortNames() {
  return Numbered("COM", 25);
}

std::vector<std::string> LinuxFallbackPortNames() {
  std::vector<std::string> names = Numbered("/dev/ttyUSB", 10);
  for (auto& name : Numbered("/dev/ttyACM", 10)) names.push_back(name);
  for (auto& name : Numbered("/dev/rfcomm", 5)) names.push_back(name);
  return names;
}

bool IsVirtualTtyName(std::string_view name) {
  if (name == "console" || name == "ptmx" || name == "tty") return true;
  const NameKey key = SplitName(name);
  return key.stem == "tty" && !key.digits.empty();  // virtual consoles
}

bool NaturalPortLess(std::string_view a, std::string_view b) {
  const NameKey ka = SplitName(a);
  const NameKey kb = SplitName(b);
  if (ka.stem != kb.stem) return ka.stem < kb.stem;
  // A name without a number goes before the numbered ones.
  if (ka.digits.empty() != kb.digits.empty()) return ka.digits.empty();
  if (const int c = CompareNumbers(ka.digits, kb.digits); c != 0) return c < 0;
  return a < b;
}

}  // namespace brivelton
