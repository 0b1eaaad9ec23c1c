// SPDX-License-Identifier: MIT
#pragma once
// The firmware update: reading the identity page, getting the adapter into its
// boot loader, programming and verifying the flash, and the attempts around it.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "link/link.h"
#include "platform/state_store.h"
#include "resources/firmware_image.h"
#include "update/address_choice.h"

namespace brivelton {

enum class UpdateStage { kErase, kWrite, kVerify };

// The flash is erased in this many blocks.
inline constexpr int kEraseBlocks = 30;

// How a press of Update Firmware ended. Cancelled: the warning's answer, or
// the front end's to AskAddress; nothing was erased either way.
enum class UpdateOutcome { kCancelled, kSucceeded, kFailed, kStoppedBeforeErase };

class Updater {
 public:
  // Erase block `done` of `total`, page `done` of `total`, verify 0 or 1 of 1.
  using ProgressObserver = std::function<void(UpdateStage stage, int done, int total)>;

  // `restart_device` says the reset pair at both speeds (the search owns it).
  Updater(Link& link, const FirmwareImage& image, std::function<void()> restart_device);
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  // From just before the first erase of an attempt (true) to its checksum
  // verdict (false, with the verdict): the span an interruption would leave
  // the adapter without firmware.
  using FlashSpanObserver = std::function<void(bool begins, bool verified)>;

  void set_progress(ProgressObserver progress) { progress_ = std::move(progress); }
  void set_flash_span(FlashSpanObserver span) { flash_span_ = std::move(span); }
  // Where the address about to be erased is kept until it is written back;
  // none: not kept.
  void set_journal(StateStore* store) { journal_ = store; }
  // The address to write when the adapter's page carries none (the user's).
  void set_given_address(const std::optional<BtAddressBytes>& address) {
    given_address_ = address;
  }

  // Asked, before anything is erased, when a blank page meets no single saved
  // address (see AddressPrompt); none: the start-up address, as the command
  // line does.
  void set_address_prompt(AddressPrompt prompt) { address_prompt_ = std::move(prompt); }
  // The USB device behind a port, kept with the address saved from it.
  void set_usb_identity(std::function<UsbIdentity(const std::string& port)> lookup) {
    usb_identity_ = std::move(lookup);
  }

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

 private:
  void Progress(UpdateStage stage, int done, int total) {
    if (progress_) progress_(stage, done, total);
  }
  bool ReadIdentityPage();
  bool SaveIdentity();
  // What one attempt came to.
  enum class Attempt { kDone, kTryAgain, kGiveUp };
  // Runs `step` until it is done or gives up, reopening the port and pausing
  // between tries, and restarts the adapter at the end. What the last try
  // said: kTryAgain when the tries ran out.
  Attempt RunAttempts(const std::function<Attempt()>& step);

  Link& link_;
  LinkState& state_;
  MessageLog& log_;
  const FirmwareImage& image_;
  std::function<void()> restart_device_;
  ProgressObserver progress_;
  FlashSpanObserver flash_span_;
  StateStore* journal_ = nullptr;
  std::optional<BtAddressBytes> given_address_;
  AddressPrompt address_prompt_;
  std::function<UsbIdentity(const std::string& port)> usb_identity_;
  bool cancelled_ = false;
  std::optional<BtAddressBytes> page_address_;
  std::string page_name_;
};

}  // namespace brivelton
