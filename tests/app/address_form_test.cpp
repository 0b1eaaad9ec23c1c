// SPDX-License-Identifier: MIT
// The address dialog's rules, as every window applies them: what OK makes of
// the field, what a saved entry shows and puts in the field.
#include "app/address_form.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "support/failure_of.h"

namespace brivelton {
namespace {

// The process's time zone for one test, put back after it.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    if (const char* was = std::getenv("TZ")) was_ = was;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZone() {
    if (was_)
      setenv("TZ", was_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> was_;
};

const std::string kEmpty = "Type the adapter's 12 hexadecimal digits, or pick a saved address.";
const std::string kNotAnAddress =
    "That is not an address: it takes 12 hexadecimal digits, such as 00:1B:DC:0F:21:7E.";

TEST(AddressForm, OkTakesTwelveDigitsThatNameAnAdapterAndRefusesTheRestWithASentence) {
  struct Case {
    const char* typed;
    std::optional<BtAddressBytes> address;  // none: refused
    std::string refusal;
  };
  const BtAddressBytes x = {0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E};
  const std::vector<Case> cases = {
      {"00:1B:DC:0F:21:7E", x, ""},
      {"001bdc0f217e", x, ""},
      // As labels and phones print it, and as a paste brings it.
      {"00-1B-DC-0F-21-7E", x, ""},
      {"  00:1B:DC:0F:21:7E\t", x, ""},
      {"00 1B DC 0F 21 7E", x, ""},
      {"", std::nullopt, kEmpty},
      {"   ", std::nullopt, kEmpty},
      {"00:1B:DC:0F:21", std::nullopt, kNotAnAddress},
      {"00:1B:DC:0F:21:7E:00", std::nullopt, kNotAnAddress},
      {"00:1B:DC:0F:21:7G", std::nullopt, kNotAnAddress},
      {"001B:DC0F:217E", std::nullopt, kNotAnAddress},
      {"0x001BDC0F217E", std::nullopt, kNotAnAddress},
      {"00:00:00:00:00:00", std::nullopt,
       "That address can't be written: " + MeaninglessAddressReason({}) + "."},
      {"FFFFFFFFFFFF", std::nullopt,
       "That address can't be written: " +
           MeaninglessAddressReason({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}) + "."},
      {"00:01:00:03:04:06", std::nullopt,
       "That address can't be written: " + MeaninglessAddressReason(kDefaultBtAddress) + "."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("typed \"") + c.typed + "\"");
    const auto accepted = AcceptTypedAddress(c.typed);
    EXPECT_EQ(FailureOf(accepted), c.refusal);
    if (c.address && accepted) {
      EXPECT_EQ(accepted->answer, AddressAnswer::kGiven);
      EXPECT_EQ(accepted->address, *c.address);
    }
  }
  // Each meaningless address has a reason of its own to give.
  EXPECT_NE(MeaninglessAddressReason({}), "");
  EXPECT_NE(MeaninglessAddressReason(kDefaultBtAddress), "");
}

TEST(AddressForm, AnEntryShowsItsAddressWhereAndWhenAndPutsTheAddressInTheField) {
  const TimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  JournalEntry entry;
  entry.address = {0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E};
  entry.port = "/dev/ttyUSB0";
  entry.saved = "2026-12-10T14:02:11Z";
  // Saved in UTC, shown in the user's own time.
  EXPECT_EQ(AddressCandidateLine(entry), "00:1B:DC:0F:21:7E   /dev/ttyUSB0   saved 2026-12-10 15:02");
  entry.name = "Kitchen";
  // A planted entry's text never reaches the window raw.
  entry.port = "COM5\x1b[2J\r";
  EXPECT_EQ(AddressCandidateLine(entry),
            "00:1B:DC:0F:21:7E   COM5?[2J?   Kitchen   saved 2026-12-10 15:02");
  EXPECT_EQ(AddressFieldText(entry), "00:1B:DC:0F:21:7E");
  // What the field takes back is the entry's own address.
  const auto accepted = AcceptTypedAddress(AddressFieldText(entry));
  ASSERT_EQ(FailureOf(accepted), "");
  EXPECT_EQ(accepted->address, entry.address);
}

TEST(AddressForm, SavedTimesInLocalTimeAndAnythingElseAsItMayBeShown) {
  const TimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"2026-12-10T14:02:11Z", "2026-12-10 15:02"},
      {"2026-07-01T23:30:00Z", "2026-07-02 01:30"},  // summer time, past midnight
      {"2024-02-29T12:00:59Z", "2024-02-29 13:00"},
      {"1999-12-31T23:59:59Z", "2000-01-01 00:59"},
      {"2026-12-10T14:02:11", "2026-12-10T14:02:11"},  // no zone: not known to be UTC
      {"2026-12-10T14:02:11Zx", "2026-12-10T14:02:11Zx"},
      {"2026-13-10T14:02:11Z", "2026-13-10T14:02:11Z"},
      {"yesterday\x1b[2J", "yesterday?[2J"},
      {"", ""},
  };
  for (const auto& [saved, shown] : cases) EXPECT_EQ(LocalTimeText(saved), shown) << saved;
}

}  // namespace
}  // namespace brivelton
