#pragma once
// The identity journal: the Bluetooth address an update is about to erase,
// kept on the PC until that update has written it back, so that an update cut
// short (killed, unplugged, power lost) never costs the adapter its address.
// One entry per port; an entry only ever serves its own port.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/state_store.h"

namespace brivelton {

using BtAddressBytes = std::array<uint8_t, 6>;

// "00:1B:DC:0F:21:7E": the bytes in the order the identity page holds them.
std::string FormatBtAddress(const BtAddressBytes& address);
// Twelve hexadecimal digits, in the page's order, with or without a colon
// between the bytes; nothing else.
std::optional<BtAddressBytes> ParseBtAddress(std::string_view text);

struct JournalEntry {
  std::string port;
  BtAddressBytes address{};
  std::string name;   // the device name the page carried, if any
  std::string saved;  // when, UTC, ISO 8601
};

// The file that holds `port`'s entry: one name per port, never shared.
std::string JournalFileName(const std::string& port);
std::string FormatJournalEntry(const JournalEntry& entry);
std::optional<JournalEntry> ParseJournalEntry(std::string_view text);

class IdentityJournal {
 public:
  explicit IdentityJournal(StateStore& store) : store_(store) {}
  std::optional<JournalEntry> EntryFor(const std::string& port);
  // Every readable entry, this port's included.
  std::vector<JournalEntry> Entries();
  bool Save(const JournalEntry& entry, std::string& error);
  void Forget(const std::string& port);
  std::string PathFor(const std::string& port) const;

 private:
  StateStore& store_;
};

// Which address an update writes, from what it knows before erasing.
struct AddressSources {
  std::string port;
  std::optional<BtAddressBytes> page;   // the adapter's own page, when it has the mark
  std::optional<BtAddressBytes> given;  // from the user (--address)
  std::optional<JournalEntry> own;      // the journal's entry for this port
  std::string own_path;                 // where that entry lives
  std::vector<JournalEntry> others;     // entries of other ports
  BtAddressBytes held{};                // what the run already holds
};

struct AddressChoice {
  BtAddressBytes address{};
  // Log lines explaining the choice; none when nothing needs saying.
  std::vector<std::string> lines;
};

// The adapter's own page always wins; on a blank page the user's address
// comes first, then this port's entry; another port's entry is never used,
// only named.
AddressChoice ChooseAddress(const AddressSources& sources);

// The current time as the journal records it.
std::string JournalTimestamp();

}  // namespace brivelton
