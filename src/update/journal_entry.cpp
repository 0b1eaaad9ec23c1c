// SPDX-License-Identifier: MIT
#include "update/journal_entry.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace brivelton {

std::string JournalFileName(const BtAddressBytes& address) {
  std::string name(kJournalFilePrefix);
  for (char c : FormatBtAddress(address))
    if (c != ':') name += c;
  return name;
}

std::string EarlierJournalFileName(const std::string& port) {
  std::string name(kJournalFilePrefix);
  for (unsigned char c : port) {
    if (std::isalnum(c) || c == '-' || c == '_') {
      name += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      name += escaped;
    }
  }
  return name;
}

std::string FormatJournalEntry(const JournalEntry& entry) {
  std::string text = "port=" + entry.port + "\naddress=" + FormatBtAddress(entry.address) +
                     "\nname=" + entry.name + "\nsaved=" + entry.saved + "\n";
  if (!entry.usb.vendor.empty()) text += "usb_vendor=" + entry.usb.vendor + "\n";
  if (!entry.usb.product.empty()) text += "usb_product=" + entry.usb.product + "\n";
  if (!entry.usb.serial.empty()) text += "usb_serial=" + entry.usb.serial + "\n";
  return text;
}

std::optional<JournalEntry> ParseJournalEntry(std::string_view text) {
  JournalEntry entry;
  bool have_port = false, have_address = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    // Saved again by an editor that ends lines in CR LF.
    if (line.ends_with('\r')) line.remove_suffix(1);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "port") {
      entry.port = value;
      have_port = !value.empty();
    } else if (key == "address") {
      const auto address = ParseBtAddress(value);
      if (!address) return std::nullopt;
      entry.address = *address;
      have_address = true;
    } else if (key == "name") {
      entry.name = value;
    } else if (key == "saved") {
      entry.saved = value;
    } else if (key == "usb_vendor") {
      entry.usb.vendor = value;
    } else if (key == "usb_product") {
      entry.usb.product = value;
    } else if (key == "usb_serial") {
      entry.usb.serial = value;
    }
  }
  if (!have_port || !have_address) return std::nullopt;
  return entry;
}

std::string Shown(std::string_view text) {
  std::string shown(text);
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return shown;
}

std::string JournalTimestamp() {
  const std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm* utc = std::gmtime(&now))
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

}  // namespace brivelton
