// SPDX-License-Identifier: MIT
#pragma once
// The firmware update: reading the identity page, getting the adapter into its
// boot loader, programming and verifying the flash, and the attempts around it.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "link/adapter_facts.h"
#include "link/link.h"
#include "platform/state_store.h"
#include "resources/firmware_image.h"
#include "update/address_choice.h"

namespace brivelton {

enum class UpdateStage { kErase, kWrite, kVerify };

// The flash is erased in this many blocks.
inline constexpr int kEraseBlocks = 30;

// How a press of Update Firmware ended. Cancelled: the warning's answer, or
// the front end's to AskAddress; nothing was erased either way. Refused
// undecided: a blank page, several saved addresses that might be the
// adapter's and nobody to choose; stopped before any erase.
enum class UpdateOutcome {
  kCancelled,
  kSucceeded,
  kFailed,
  kStoppedBeforeErase,
  kRefusedUndecided,
};

// How many programming attempts an update makes, and the pause between two.
inline constexpr int kMaxAttempts = 20;
inline constexpr uint32_t kAttemptPauseMs = 3000;

// Why one programming attempt failed.
enum class AttemptFailure {
  kNoBootMode,        // the adapter did not answer in boot mode
  kIdentityUnread,    // its identity page could not be read
  kEraseRefused,      // the flash unlock or an erase was refused
  kWriteFailed,       // a page write failed
  kChecksumMismatch,  // the checksum did not match (or none came)
  kIdentityMismatch,  // the identity page read back wrong
  kPortLost,          // the port stopped taking writes
};
// The reason in words, to follow "failed: ": "the checksum did not match".
const char* AttemptFailureWords(AttemptFailure why);

// The attempt loop's account, in the order things happen: each attempt's
// start, then either its failure (with the pause before the next, none after
// the last) or the verified flash; after the last failure, kGaveUp.
struct AttemptEvent {
  enum class Kind { kBegins, kFailed, kVerified, kGaveUp };
  Kind kind = Kind::kBegins;
  int attempt = 1;  // 1-based
  int of = kMaxAttempts;
  AttemptFailure why = AttemptFailure::kNoBootMode;  // with kFailed and kGaveUp
  uint32_t pause_ms = 0;                             // with kFailed: 0 after the last
  // Whether an erase has been sent during this update: from then on the
  // adapter may have no working firmware until an attempt is verified.
  bool erased = false;
};
// "Attempt 2 of 20 failed: the checksum did not match. Trying again in 3 s."
// ("... did not match." alone after the last); empty for other kinds.
std::string AttemptLine(const AttemptEvent& event);

// Everything an update is told from outside: where the address is kept, what
// the system knows of the port, the user's address, and the front end's hooks.
struct UpdateOptions {
  // Erase block `done` of `total`, page `done` of `total`, verify 0 or 1 of 1.
  std::function<void(UpdateStage stage, int done, int total)> progress;
  std::function<void(const AttemptEvent& event)> attempts;
  // From just before the first erase of an attempt (true) to its checksum
  // verdict (false, with the verdict): the span an interruption would leave
  // the adapter without firmware.
  std::function<void(bool begins, bool verified)> flash_span;
  // Where the address about to be erased is kept until it is written back;
  // none: not kept.
  StateStore* journal = nullptr;
  // The USB device behind a port, kept with the address saved from it.
  std::function<UsbIdentity(const std::string& port)> usb_identity;
  // The address to write when the adapter's page carries none (the user's).
  std::optional<BtAddressBytes> given_address;
  // Asked, before anything is erased, when a blank page meets no single saved
  // address (see AddressPrompt). None: nothing saved gives the start-up
  // address, several saved addresses stop the update (kRefusedUndecided).
  AddressPrompt address_prompt;
};

// The address an update of the adapter on `port` would write, as far as the
// options, the page (none: blank) and the journal say, before anyone is
// asked. Without a journal, `held` (this run's address) stands in for one.
AddressDecision DecideAddress(const UpdateOptions& options, const std::string& port,
                              const std::optional<BtAddressBytes>& page,
                              const std::optional<BtAddressBytes>& held = std::nullopt);

class Updater {
 public:
  // `restart_device` says the reset pair at both speeds (the search owns it).
  // The identity read and the version written are kept in `facts`.
  Updater(Link& link, AdapterFacts& facts, const FirmwareImage& image,
          std::function<void()> restart_device, UpdateOptions options = {});
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  // Changed between updates, never during one.
  UpdateOptions& options() { return options_; }
  const UpdateOptions& options() const { return options_; }

  bool ReadIdentity();
  bool EnterBootMode();
  bool ProgramFlash();
  UpdateOutcome ProgramDevice();
  // One press of Update Firmware after the warning: the identity page is read
  // afresh, and a success records the image's version as the adapter's.
  UpdateOutcome RunUpdate();
  // Boot mode entry, the identity page read and the restart, as an update
  // does before it erases; nothing is erased or written. True when the page
  // was read.
  bool InspectIdentity();
  // What the last identity page read found on the page itself.
  const std::optional<BtAddressBytes>& page_address() const { return page_address_; }
  const std::string& page_name() const { return page_name_; }
  // The last update's address, once decided; none before that (or when the
  // page could not be read).
  const std::optional<AddressDecision>& address_decision() const { return decision_; }
  // Whether the journal kept the last update's address before the erase: an
  // update that then failed left it there for the next one.
  bool address_kept() const { return decision_ && !decision_->journal_file.empty(); }

 private:
  void Progress(UpdateStage stage, int done, int total) {
    if (options_.progress) options_.progress(stage, done, total);
  }
  // The page-read reply, once it shows the page in place; none otherwise.
  std::optional<Reply> ReadIdentityPage();
  bool SaveIdentity();
  // After the checksum: whether the identity page reads back as written.
  bool IdentityReadsBack();
  // What a stop before the first erase left: "nothing erased", unless the
  // adapter came without its identity page.
  std::string NothingErased() const;
  // What one attempt came to.
  enum class Attempt { kDone, kTryAgain, kGiveUp };
  // Runs `step` until it is done or gives up, reopening the port and pausing
  // between tries, and restarts the adapter at the end. What the last try
  // said: kTryAgain when the tries ran out.
  Attempt RunAttempts(const std::function<Attempt()>& step);

  Link& link_;
  LinkState& state_;
  AdapterFacts& facts_;
  MessageLog& log_;
  const FirmwareImage& image_;
  std::function<void()> restart_device_;
  UpdateOptions options_;
  void Report(const AttemptEvent& event) {
    if (options_.attempts) options_.attempts(event);
  }
  // Why the attempt under way failed, set by the step that failed.
  AttemptFailure failure_ = AttemptFailure::kNoBootMode;
  bool erased_ = false;
  int attempt_ = 0;  // the attempt under way, from 1
  bool cancelled_ = false;
  bool refused_ = false;  // undecided, and nobody chose
  bool blank_on_arrival_ = false;  // the identity page read all FF
  std::optional<BtAddressBytes> page_address_;
  std::string page_name_;
  std::optional<AddressDecision> decision_;
};

}  // namespace brivelton
