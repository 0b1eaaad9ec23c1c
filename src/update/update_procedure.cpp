// SPDX-License-Identifier: MIT
// The firmware update: reading the identity page, getting the adapter into its
// boot loader, programming and verifying the flash, and the attempts around it.
#include <algorithm>
#include <cstdio>

#include "update/address_choice.h"
#include "update/identity_journal.h"
#include "update/identity_page.h"
#include "update/updater.h"

namespace brivelton {

namespace {
// Where the checksum sits in the boot loader's reply.
constexpr size_t kChecksumOffset = 7;
// Where the identity page's address and name start in the page-read reply.
constexpr size_t kAddressOffset = kPageDataOffset;
constexpr size_t kNameOffset = kAddressOffset + 6;

// Whether the page read shows page bytes 0 to 7 where they belong. The erase
// that follows wipes the page for good, so a reply we cannot see the start
// of, or one shifted by stray bytes ahead of it (its name turns up
// elsewhere), must not pass for a blank page.
bool PageInPlace(std::span<const uint8_t> reply) {
  static constexpr char kName[] = "Brivelton(";
  constexpr size_t kNameLength = sizeof(kName) - 1;
  if (reply.size() < kNameOffset + 2) return false;
  for (size_t p = 0; p + kNameLength <= reply.size(); ++p) {
    if (p != kNameOffset && std::equal(kName, kName + kNameLength, reply.begin() + p))
      return false;
  }
  return true;
}

// The name the page carries from byte 6, as far as the reply delivered it;
// bytes a terminal would act on are shown as '?'.
std::string PageName(std::span<const uint8_t> reply) {
  std::string name;
  for (size_t i = kNameOffset; i < reply.size(); ++i) {
    const uint8_t c = reply[i];
    if (c == 0x00 || c == 0xFF) break;
    name += (c < 0x20 || c >= 0x7F) ? '?' : static_cast<char>(c);
  }
  return name;
}
}  // namespace

const char* AttemptFailureWords(AttemptFailure why) {
  switch (why) {
    case AttemptFailure::kNoBootMode: return "no answer in boot mode";
    case AttemptFailure::kIdentityUnread: return "the identity page could not be read";
    case AttemptFailure::kEraseRefused: return "the erase was refused";
    case AttemptFailure::kWriteFailed: return "a page write failed";
    case AttemptFailure::kChecksumMismatch: return "the checksum did not match";
    case AttemptFailure::kIdentityMismatch: return "the identity page read back wrong";
    case AttemptFailure::kPortLost: return "the port was lost";
  }
  return "";
}

std::string AttemptLine(const AttemptEvent& event) {
  if (event.kind != AttemptEvent::Kind::kFailed && event.kind != AttemptEvent::Kind::kGaveUp)
    return {};
  char line[160];
  std::snprintf(line, sizeof line, "Attempt %d of %d failed: %s.", event.attempt, event.of,
                AttemptFailureWords(event.why));
  std::string text = line;
  if (event.kind == AttemptEvent::Kind::kFailed && event.pause_ms > 0) {
    std::snprintf(line, sizeof line, " Trying again in %u s.",
                  static_cast<unsigned>((event.pause_ms + 999) / 1000));
    text += line;
  }
  return text;
}

Updater::Updater(Link& link, AdapterFacts& facts, const FirmwareImage& image,
                 std::function<void()> restart_device, UpdateOptions options)
    : link_(link),
      state_(link.state()),
      facts_(facts),
      log_(link.log()),
      image_(image),
      restart_device_(std::move(restart_device)),
      options_(std::move(options)) {}

std::optional<Reply> Updater::ReadIdentityPage() {
  log_.LogLine(" Check Device ...");
  facts_.IdentityRead = false;
  page_address_.reset();
  page_name_.clear();
  const Reply answer =
      link_.Exchange(CommandKind::FlashReadPage, {.read_address = kIdentityPageAddress});
  if (!answer || !PageInPlace(answer.bytes())) {
    log_.LogLine(" Fail to read flash data from device !!! ");
    return std::nullopt;
  }
  const auto reply = answer.bytes();
  if (reply[kNameOffset] == 'B' && reply[kNameOffset + 1] == 'r') {
    page_address_.emplace();
    std::copy(reply.begin() + kAddressOffset, reply.begin() + kNameOffset,
              page_address_->begin());
    page_name_ = PageName(reply);
  }
  return answer;
}

bool Updater::ReadIdentity() {
  const std::optional<Reply> answer = ReadIdentityPage();
  if (!answer) return false;
  // An adapter cut short comes with its page erased: from here on, it may
  // have no working firmware, whatever this update does.
  const auto reply = answer->bytes();
  blank_on_arrival_ = std::all_of(reply.begin() + kAddressOffset, reply.end(),
                                  [](uint8_t b) { return b == 0xFF; });
  if (blank_on_arrival_) erased_ = true;
  // A page without the name (blank, or wiped by an earlier attempt's erase)
  // or with only the start-up address gets the user's address, or the one
  // address saved for this adapter, or else what the front end answers.
  AddressDecision choice =
      DecideAddress(options_, state_.PortName, page_address_, facts_.BtAddress);
  for (const auto& problem : choice.problems)
    for (const auto& line : FitLogLine(LeftAloneLine(problem), {Shown(problem.file)}))
      log_.LogLine("%s", line.c_str());
  for (const auto& line : choice.lines) log_.LogLine("%s", line.c_str());
  cancelled_ = false;
  refused_ = false;
  if (choice.undecided || choice.nothing_saved) {
    // Nobody to ask: nothing saved is the start-up address; a choice
    // between saved addresses is nobody's guess.
    const AddressReply reply =
        options_.address_prompt.ask
            ? options_.address_prompt.ask(choice.candidates)
            : AddressReply{choice.undecided ? AddressAnswer::kUndecided
                                            : AddressAnswer::kContinueWithout};
    if (reply.answer == AddressAnswer::kGiven) {
      // The dialog checks what is typed; an answer that still names no
      // adapter is not guessed at.
      const std::string why = MeaninglessAddressReason(reply.address);
      if (why.empty()) {
        choice.address = reply.address;
        choice.source = std::any_of(choice.candidates.begin(), choice.candidates.end(),
                             [&](const JournalEntry& e) { return e.address == reply.address; })
                     ? AddressSource::kSaved
                     : AddressSource::kTyped;
        log_.LogLine(" Writing the address given: %s", FormatBtAddress(reply.address).c_str());
      } else {
        log_.LogLine(" Refused the address %s: %s", FormatBtAddress(reply.address).c_str(),
                     why.c_str());
        cancelled_ = true;
      }
    } else if (reply.answer == AddressAnswer::kCancel) {
      cancelled_ = true;
    } else if (reply.answer == AddressAnswer::kUndecided) {
      refused_ = true;
    } else if (choice.undecided) {
      log_.LogLine(" Writing the start-up address %s as chosen",
                   FormatBtAddress(kDefaultBtAddress).c_str());
    } else if (choice.address == kDefaultBtAddress) {
      for (const auto& line : FitLogLine(StartUpAddressLine(options_.address_prompt.how_to_give)))
        log_.LogLine("%s", line.c_str());
    }
  }
  facts_.BtAddress = choice.address;
  facts_.IdentityRead = true;
  decision_ = std::move(choice);
  return true;
}

std::string Updater::NothingErased() const {
  return blank_on_arrival_ ? "no erase sent (its identity page was blank already)"
                           : "nothing erased";
}

// Keeps the address about to be erased on the PC. False when it can't: the
// update must then not erase anything.
bool Updater::SaveIdentity() {
  if (!options_.journal) return true;
  // The start-up address means nothing was known to keep.
  if (facts_.BtAddress == kDefaultBtAddress) return true;
  IdentityJournal journal(*options_.journal);
  JournalEntry entry{state_.PortName, facts_.BtAddress, page_name_, JournalTimestamp()};
  if (options_.usb_identity) entry.usb = options_.usb_identity(state_.PortName);
  // Kept already (a rerun after an update cut short): nothing to write, so a
  // folder that takes no writes stops nothing.
  const auto kept = journal.Kept(entry);
  const bool same = kept && kept->port == entry.port && kept->usb.vendor == entry.usb.vendor &&
                    kept->usb.product == entry.usb.product && kept->usb.serial == entry.usb.serial;
  const auto saved = same ? Result<void>() : journal.Save(entry);
  if (saved || kept) {
    if (decision_) decision_->journal_file = journal.PathFor(facts_.BtAddress);
    return true;
  }
  for (const auto& line : FitLogLine(" Can't save the Bluetooth address " +
                                         FormatBtAddress(facts_.BtAddress) + " (" +
                                         saved.error().text() + "): update stopped, " +
                                         NothingErased(),
                                     {journal.PathFor(facts_.BtAddress)}))
    log_.LogLine("%s", line.c_str());
  return false;
}

bool Updater::EnterBootMode() {
  if (!link_.Exchange(CommandKind::LinkCheck)) {
    // Silent: perhaps left in its boot loader at the high speed.
    restart_device_();
    link_.ConfigurePort(kFirmwareBaud);
    if (!link_.Exchange(CommandKind::LinkCheck)) {
      log_.LogLine(" Fail to enter boot mode");
      return false;
    }
  }
  if (!link_.Exchange(CommandKind::BootHandshake)) {
    // Firmware that ignores a lone handshake gives way to a flood of them
    // around the FE command.
    link_.Exchange(CommandKind::HandshakeBurstLong);
    link_.Exchange(CommandKind::BootCommandFE);
    link_.Exchange(CommandKind::HandshakeBurstShort);
    if (!link_.Exchange(CommandKind::BootHandshake)) return false;
  }
  if (!link_.Exchange(CommandKind::SetBaud1M)) return false;
  if (!link_.ConfigurePort(kBootLoaderBaud)) return false;
  return true;
}

bool Updater::ProgramFlash() {
  failure_ = AttemptFailure::kEraseRefused;
  if (!link_.Exchange(CommandKind::FlashReadStatus)) {
    log_.LogLine(" Fail on EN_FLASH_WR_1");
    return false;
  }
  if (!link_.Exchange(CommandKind::FlashWriteStatus)) {
    log_.LogLine(" Fail on EN_FLASH_WR_2");
    return false;
  }
  if (!link_.Exchange(CommandKind::FlashReadStatus)) {
    log_.LogLine(" Fail on EN_FLASH_WR_1");
    return false;
  }

  // From here to the verdict an interruption leaves no bootable firmware.
  struct FlashSpan {
    const std::function<void(bool begins, bool verified)>& observer;
    bool verified = false;
    ~FlashSpan() {
      if (observer) observer(false, verified);
    }
  } span{options_.flash_span};
  if (options_.flash_span) options_.flash_span(true, false);

  log_.LogLine(" Erase flash ..........");
  erased_ = true;
  for (int b = 0; b < kEraseBlocks; ++b) {
    if (!link_.Exchange(CommandKind::FlashErase, {.erase_block = b})) {
      log_.LogLine(" Fail to erase flash block: %d", b);
      return false;
    }
    Progress(UpdateStage::kErase, b + 1, kEraseBlocks);
  }
  log_.LogLine(" Done");

  // Page 0 goes last, so a write cut short leaves no bootable half image.
  failure_ = AttemptFailure::kWriteFailed;
  log_.LogLine(" Write flash ..........");
  for (int n = 1; n < kFirmwarePages; ++n) {
    if (!link_.Exchange(CommandKind::FlashWritePage, {.page_index = n, .page = image_.Page(n)})) {
      log_.LogLine(" Fail to write flash add:%x", n);
      return false;
    }
    Progress(UpdateStage::kWrite, n, kFirmwarePages);
  }
  const auto identity = BuildIdentityPage(facts_.BtAddress);
  if (!link_.Exchange(CommandKind::WriteIdentityPage, {.page = identity})) {
    log_.LogLine(" Fail to write BlueTooth info");
    return false;
  }
  if (!link_.Exchange(CommandKind::FlashWritePage, {.page_index = 0, .page = image_.Page(0)})) {
    log_.LogLine(" Fail to write flash add %x\n", 0);
    return false;
  }
  Progress(UpdateStage::kWrite, kFirmwarePages, kFirmwarePages);
  log_.LogLine(" Done");

  log_.LogLine(" Verify flash ..........");
  failure_ = AttemptFailure::kChecksumMismatch;
  Progress(UpdateStage::kVerify, 0, 1);
  const Reply sum = link_.Exchange(CommandKind::FlashChecksum);
  if (!sum) {
    log_.LogLine(" Fail to verify flash");
    return false;
  }
  // A short reply passes the exchange, but only a whole one carries a checksum.
  const auto& expected = image_.checksum();
  const auto got = sum.bytes();
  const bool match = sum.whole() && got.size() >= kChecksumOffset + expected.size() &&
                     std::equal(expected.begin(), expected.end(), got.begin() + kChecksumOffset);
  log_.LogLine(" Done");
  if (!match) {
    log_.LogLine(" !!!!! CRC error !!!!! ");
    return false;
  }
  // The checksum ends below the identity page: only reading it proves the
  // address is there.
  if (!IdentityReadsBack()) return false;
  Progress(UpdateStage::kVerify, 1, 1);
  span.verified = true;
  return true;
}

bool Updater::IdentityReadsBack() {
  const auto written = BuildIdentityPage(facts_.BtAddress);
  // Page bytes 0 to 20: the address, the name and the NUL that ends it.
  constexpr size_t kCompared = 21;
  const Reply answer =
      link_.Exchange(CommandKind::FlashReadPage, {.read_address = kIdentityPageAddress});
  const auto read = answer.bytes();
  if (!answer || read.size() < kAddressOffset + kCompared) {
    failure_ = AttemptFailure::kIdentityUnread;
    log_.LogLine(" Identity page could not be read back");
    return false;
  }
  if (!std::equal(written.begin(), written.begin() + kCompared, read.begin() + kAddressOffset)) {
    failure_ = AttemptFailure::kIdentityMismatch;
    log_.LogLine(" Identity page read back wrong");
    return false;
  }
  return true;
}

Updater::Attempt Updater::RunAttempts(const std::function<Attempt()>& step) {
  for (int attempts = 0;;) {
    attempt_ = attempts + 1;
    Report({.kind = AttemptEvent::Kind::kBegins, .attempt = attempt_, .erased = erased_});
    failure_ = AttemptFailure::kNoBootMode;
    const Attempt attempt = step();
    if (attempt == Attempt::kDone) break;
    if (attempt == Attempt::kGiveUp) {
      // Back to its old firmware, which nothing has touched.
      restart_device_();
      link_.ClosePort();
      return attempt;
    }
    if (link_.write_failed()) failure_ = AttemptFailure::kPortLost;
    // Closing and reopening puts the port back at the firmware's speed.
    link_.ClosePort();
    ++attempts;
    link_.ReopenFoundPort();
    const bool last = attempts >= kMaxAttempts;
    Report({.kind = AttemptEvent::Kind::kFailed,
            .attempt = attempts,
            .why = failure_,
            .pause_ms = last ? 0 : kAttemptPauseMs,
            .erased = erased_});
    if (last) {
      log_.LogLine("         WARMING !!! FAILED !!!                       ");
      log_.LogLine(" Please re-install the device and try again.");
      Report({.kind = AttemptEvent::Kind::kGaveUp, .attempt = attempts, .why = failure_,
              .erased = erased_});
      return attempt;
    }
    link_.clock().Sleep(kAttemptPauseMs);
  }
  log_.LogLine(" Reboot MCU ");
  restart_device_();
  link_.ClosePort();
  return Attempt::kDone;
}

UpdateOutcome Updater::ProgramDevice() {
  log_.LogLine(" Start the programming: ");
  // The address is kept once, by the first attempt that read it; later
  // attempts would only save it again.
  bool saved = false;
  cancelled_ = false;
  refused_ = false;
  erased_ = false;
  blank_on_arrival_ = false;
  const Attempt end = RunAttempts([this, &saved] {
    if (!EnterBootMode()) return Attempt::kTryAgain;
    if (!facts_.IdentityRead && !ReadIdentity()) {
      failure_ = AttemptFailure::kIdentityUnread;
      return Attempt::kTryAgain;
    }
    if (cancelled_) {
      log_.LogLine(" No address chosen: update cancelled, %s", NothingErased().c_str());
      return Attempt::kGiveUp;
    }
    if (refused_) {
      for (const auto& line :
           FitLogLine(" Several saved addresses may be this adapter's and none was chosen: "
                      "update stopped, " + NothingErased()))
        log_.LogLine("%s", line.c_str());
      return Attempt::kGiveUp;
    }
    if (!saved && !SaveIdentity()) return Attempt::kGiveUp;
    saved = true;
    if (!ProgramFlash()) return Attempt::kTryAgain;
    // Proved on the adapter: the saved copy has done its job, and must not
    // outlive this moment (a kill during the restart would leave it to the
    // next blank adapter on the port).
    // One left behind is offered to the next blank adapter: the user hears of it.
    if (options_.journal)
      for (const auto& problem : IdentityJournal(*options_.journal).Forget(facts_.BtAddress))
        for (const auto& line : FitLogLine(NotRemovedLine(problem), {Shown(problem.file)}))
          log_.LogLine("%s", line.c_str());
    Report({.kind = AttemptEvent::Kind::kVerified, .attempt = attempt_, .erased = erased_});
    return Attempt::kDone;
  });
  if (end == Attempt::kGiveUp)
    return cancelled_  ? UpdateOutcome::kCancelled
           : refused_ ? UpdateOutcome::kRefusedUndecided
                      : UpdateOutcome::kStoppedBeforeErase;
  if (end != Attempt::kDone) return UpdateOutcome::kFailed;
  log_.LogLine(" ");
  log_.LogLine(" Success ");
  log_.LogLine(" ");
  return UpdateOutcome::kSucceeded;
}

bool Updater::InspectIdentity() {
  facts_.IdentityRead = false;
  log_.LogLine(" ");
  const Attempt end = RunAttempts(
      [this] {
        return EnterBootMode() && ReadIdentityPage() ? Attempt::kDone : Attempt::kTryAgain;
      });
  // Only an update's own read may count for the update that follows.
  facts_.IdentityRead = false;
  return end == Attempt::kDone;
}

UpdateOutcome Updater::RunUpdate() {
  // Read the identity page once per press, so that another adapter plugged in
  // since the last update keeps its own address.
  facts_.IdentityRead = false;
  decision_.reset();
  log_.LogLine(" ");
  const UpdateOutcome outcome = ProgramDevice();
  if (outcome == UpdateOutcome::kSucceeded)
    facts_.DeviceVersion = static_cast<int>(image_.version());
  return outcome;
}

}  // namespace brivelton
