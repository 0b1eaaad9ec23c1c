// SPDX-License-Identifier: MIT
#pragma once
// The windows' address dialog, free of any toolkit: what its list shows, what
// picking a line puts in the field, and what OK makes of the field. Every
// window asks the same way.
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "platform/state_store.h"
#include "update/address_choice.h"

namespace brivelton {

// One line of the dialog's list for a saved entry, its time in local time.
std::string AddressCandidateLine(const JournalEntry& entry);

// The journal's UTC time ("2026-12-10T14:02:11Z") as "2026-12-10 15:02" in
// the machine's local time; any other text as it may be shown.
std::string LocalTimeText(std::string_view saved);

// The field's text once `entry` is picked.
std::string AddressFieldText(const JournalEntry& entry);

// OK with `typed` in the field: the address given, or the sentence that says
// why not, and the dialog stays.
Result<AddressReply> AcceptTypedAddress(std::string_view typed);

// The end of the log's hint line in the windows, whose address dialog opens
// once the hint lines are written.
std::string WindowAddressRemedy(const std::string& address);

}  // namespace brivelton
