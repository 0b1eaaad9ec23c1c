// SPDX-License-Identifier: MIT
#pragma once
// What the main window logic asks of a front end's window. Each front end
// (Win32, Qt, the command line) implements it once; tests implement it too.
#include <string>
#include <vector>

#include "params/settings_values.h"
#include "update/address_choice.h"
#include "update/updater.h"

namespace brivelton {

inline constexpr int kIdCheckDevice = 1001;
inline constexpr int kIdUpdateFirmware = 1002;
inline constexpr int kIdSetting = 1014;
inline constexpr int kIdMessageList = 1004;

class MainView {
 public:
  virtual ~MainView() = default;
  virtual void ShowButton(int id, bool show) = 0;
  // Append one line to the message list, scroll by LogTopIndex and repaint
  // the list at once: the caller goes on blocking in serial I/O.
  virtual void AppendLog(const std::string& line) = 0;
  // The update warning; true when the user pressed OK.
  virtual bool ConfirmUpdate() = 0;
  virtual void ShowUpdateResult(bool success) = 0;
  // The parameter dialog, started from `values`; true with the user's values
  // in `values` when it ended with OK.
  virtual bool EditSettings(SettingsValues& values) = 0;
  // Progress of an update: erase block `done` of `total`, page `done` of
  // `total`. The message log is unaffected.
  virtual void UpdateProgress(UpdateStage /*stage*/, int /*done*/,
                              int /*total*/) {}
  // From just before the first erase of a programming attempt to its
  // checksum verdict: the span an interruption would leave the adapter
  // without firmware. Every FlashBegins is followed by one FlashEnds.
  virtual void FlashBegins() {}
  virtual void FlashEnds(bool /*verified*/) {}
  // The update's attempts: each start, each failure with its reason and the
  // pause after it, the verified flash, and giving up after the last.
  virtual void ReportAttempt(const AttemptEvent& /*event*/) {}
  // Before anything is erased, when the identity page is blank (or carries
  // only the start-up address) and no single saved address applies. The
  // windows ask in their address dialog; a view that can't ask goes on with
  // the start-up address when nothing is saved, and never guesses between
  // saved addresses.
  virtual AddressReply AskAddress(const std::vector<JournalEntry>& candidates) {
    return {candidates.empty() ? AddressAnswer::kContinueWithout : AddressAnswer::kUndecided, {}};
  }
  // The log's hint for giving `address`, naming what this front end offers.
  virtual std::string HowToGiveAddress(const std::string& address) = 0;
};

}  // namespace brivelton
