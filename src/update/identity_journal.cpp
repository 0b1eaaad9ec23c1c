#include "update/identity_journal.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "resources/hex_text.h"

namespace brivelton {

namespace {
constexpr const char kFilePrefix[] = "identity-";

bool Printable(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}
}  // namespace

std::string FormatBtAddress(const BtAddressBytes& address) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1],
                address[2], address[3], address[4], address[5]);
  return text;
}

std::optional<BtAddressBytes> ParseBtAddress(std::string_view text) {
  // Either all five colons or none: "001B:DC..." is more likely a typo.
  const bool colons = text.size() == 17;
  if (!colons && text.size() != 12) return std::nullopt;
  BtAddressBytes address{};
  size_t at = 0;
  for (size_t k = 0; k < address.size(); ++k) {
    if (colons && k > 0 && text[at++] != ':') return std::nullopt;
    const std::optional<int> high = HexDigitValue(text[at]);
    const std::optional<int> low = HexDigitValue(text[at + 1]);
    if (!high || !low) return std::nullopt;
    address[k] = static_cast<uint8_t>(*high << 4 | *low);
    at += 2;
  }
  return address;
}

std::string JournalFileName(const std::string& port) {
  // Reversible, so two ports never share a file, and free of characters a
  // file name can't hold on either system.
  std::string name = kFilePrefix;
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
  return "port=" + entry.port + "\naddress=" + FormatBtAddress(entry.address) +
         "\nname=" + entry.name + "\nsaved=" + entry.saved + "\n";
}

std::optional<JournalEntry> ParseJournalEntry(std::string_view text) {
  JournalEntry entry;
  bool have_port = false, have_address = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
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
    }
  }
  if (!have_port || !have_address) return std::nullopt;
  return entry;
}

std::optional<JournalEntry> IdentityJournal::EntryFor(const std::string& port) {
  const auto text = store_.Read(JournalFileName(port));
  if (!text) return std::nullopt;
  auto entry = ParseJournalEntry(*text);
  if (!entry || entry->port != port) return std::nullopt;
  return entry;
}

std::vector<JournalEntry> IdentityJournal::Entries() {
  std::vector<JournalEntry> entries;
  for (const auto& name : store_.List()) {
    if (!name.starts_with(kFilePrefix)) continue;
    const auto text = store_.Read(name);
    if (!text) continue;
    auto entry = ParseJournalEntry(*text);
    // A file whose name does not match its port was not written by us.
    if (entry && JournalFileName(entry->port) == name) entries.push_back(*entry);
  }
  return entries;
}

bool IdentityJournal::Save(const JournalEntry& entry, std::string& error) {
  if (entry.port.empty() || !Printable(entry.port) || !Printable(entry.name)) {
    error = "the port name can't be recorded";
    return false;
  }
  return store_.Write(JournalFileName(entry.port), FormatJournalEntry(entry), error);
}

void IdentityJournal::Forget(const std::string& port) { store_.Remove(JournalFileName(port)); }

std::string IdentityJournal::PathFor(const std::string& port) const {
  return store_.PathOf(JournalFileName(port));
}

AddressChoice ChooseAddress(const AddressSources& s) {
  AddressChoice choice;
  if (s.page) {
    choice.address = *s.page;
    if (s.given && *s.given != *s.page)
      choice.lines.push_back(" The adapter keeps its own address " + FormatBtAddress(*s.page) +
                             "; --address " + FormatBtAddress(*s.given) + " is not used");
    return choice;
  }
  if (s.given) {
    choice.address = *s.given;
    std::string line = " Identity page blank: writing the given address " +
                       FormatBtAddress(*s.given);
    if (s.own && s.own->address != *s.given)
      line += " (--address), not the saved " + FormatBtAddress(s.own->address) + " from " +
              s.own_path;
    choice.lines.push_back(line);
    return choice;
  }
  if (s.own) {
    choice.address = s.own->address;
    choice.lines.push_back(" Identity page blank: restored address " +
                           FormatBtAddress(s.own->address) + " from " + s.own_path);
    return choice;
  }
  choice.address = s.held;
  for (const auto& other : s.others) {
    if (other.port == s.port) continue;
    choice.lines.push_back(" Identity page blank; the address " + FormatBtAddress(other.address) +
                           " saved for port " + other.port +
                           " is not used. If it is this adapter's: brivelton update --address " +
                           FormatBtAddress(other.address));
  }
  return choice;
}

std::string JournalTimestamp() {
  const std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm* utc = std::gmtime(&now))
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

}  // namespace brivelton
