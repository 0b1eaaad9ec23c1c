// SPDX-License-Identifier: MIT
#pragma once
// One entry of the identity journal as its file holds it: the address an
// update is about to erase, where it was saved from and when.
#include <optional>
#include <string>
#include <string_view>

#include "link/bt_address.h"
#include "platform/port_list.h"

namespace brivelton {

struct JournalEntry {
  std::string port;
  BtAddressBytes address{};
  std::string name;   // the device name the page carried, if any
  std::string saved;  // when, UTC, ISO 8601
  UsbIdentity usb;    // of the port it was saved from, as far as the system knew it
  std::string file;   // where it was read from, as a user would look for it; not stored
};

// The file that holds the entry for `address`: one per adapter, its length
// bounded whatever the port's name.
std::string JournalFileName(const BtAddressBytes& address);
// How an earlier version named the file of `port`'s only entry.
std::string EarlierJournalFileName(const std::string& port);
inline constexpr std::string_view kJournalFilePrefix = "identity-";

// "key=value" lines; keys it does not know are skipped, so a later version's
// entry still reads.
std::string FormatJournalEntry(const JournalEntry& entry);
std::optional<JournalEntry> ParseJournalEntry(std::string_view text);

// Entry text as it may be shown: control characters become '?'.
std::string Shown(std::string_view text);

// The current time as the journal records it.
std::string JournalTimestamp();

}  // namespace brivelton
