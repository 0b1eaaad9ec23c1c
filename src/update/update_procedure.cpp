// The firmware update: reading the identity page, getting the adapter into its
// boot loader, programming and verifying the flash, and the button handler
// that retries the whole attempt.
#include <algorithm>

#include "app/main_dialog.h"
#include "update/firmware_image.h"

namespace brivelton {

namespace {
constexpr int kEraseBlocks = 30;
constexpr int kMaxAttempts = 20;
constexpr uint32_t kAttemptPauseMs = 3000;
// Where the checksum sits in the boot loader's reply.
constexpr int kChecksumOffset = 7;
// Where the identity page's name starts in the page-read reply.
constexpr int kNameOffset = 15 + 6;

// Whether the page read shows page bytes 0 to 7 where they belong. The erase
// that follows wipes the page for good, so a reply we cannot see the start
// of, or one shifted by bytes left over from an earlier reply (its name turns
// up elsewhere), must not pass for a blank page.
bool PageInPlace(const LinkState& link) {
  static constexpr char kName[] = "Brivelton(";
  constexpr int kNameLength = sizeof(kName) - 1;
  if (link.ReplyFresh < kNameOffset + 2) return false;
  const auto& reply = link.ReplyBuffer;
  for (int p = 0; p + kNameLength <= link.ReplyFresh; ++p) {
    if (p != kNameOffset && std::equal(kName, kName + kNameLength, reply.begin() + p))
      return false;
  }
  return true;
}
}  // namespace

int MainDialog::ReadIdentity() {
  LogLine(" Check Device ...");
  link_.IdentityRead = 0;
  link_.ReadAddress = kIdentityPageAddress;
  if (!Exchange(FlashReadPage) || !PageInPlace(link_)) {
    LogLine(" Fail to read flash data from device !!! ");
    return 0;
  }
  // Page byte k is reply byte 15 + k. A page without the name (blank, or wiped
  // by an earlier attempt's erase) keeps the address we already hold.
  const auto& reply = link_.ReplyBuffer;
  if (reply[21] == 'B' && reply[22] == 'r')
    std::copy(reply.begin() + 15, reply.begin() + 21, link_.BtAddress.begin());
  link_.IdentityRead = 1;
  return 1;
}

int MainDialog::EnterBootMode() {
  if (!Exchange(LinkCheck)) {
    // Silent: perhaps left in its boot loader at the high speed.
    RestartDevice();
    ConfigurePort(115200);
    if (!Exchange(LinkCheck)) {
      LogLine(" Fail to enter boot mode");
      return 0;
    }
  }
  if (!Exchange(BootHandshake)) {
    // Firmware that ignores a lone handshake gives way to a flood of them
    // around the FE command.
    Exchange(HandshakeBurstLong);
    Exchange(BootCommandFE);
    Exchange(HandshakeBurstShort);
    if (!Exchange(BootHandshake)) return 0;
  }
  if (!Exchange(SetBaud1M)) return 0;
  if (!ConfigurePort(1000000)) return 0;
  return 1;
}

int MainDialog::ProgramFlash() {
  if (!Exchange(FlashReadStatus)) {
    LogLine(" Fail on EN_FLASH_WR_1");
    return 0;
  }
  if (!Exchange(FlashWriteStatus)) {
    LogLine(" Fail on EN_FLASH_WR_2");
    return 0;
  }
  if (!Exchange(FlashReadStatus)) {
    LogLine(" Fail on EN_FLASH_WR_1");
    return 0;
  }

  LogLine(" Erase flash ..........");
  for (int b = 0; b < kEraseBlocks; ++b) {
    link_.EraseBlock = b;
    if (!Exchange(FlashErase)) {
      LogLine(" Fail to erase flash block: %d", b);
      return 0;
    }
    view_.UpdateProgress(UpdateStage::kErase, b + 1, kEraseBlocks);
  }
  LogLine(" Done");

  // Page 0 goes last, so a write cut short leaves no bootable half image.
  LogLine(" Write flash ..........");
  for (int n = 1; n < kFirmwarePages; ++n) {
    link_.PageIndex = n;
    if (!Exchange(FlashWritePage)) {
      LogLine(" Fail to write flash add:%x", n);
      return 0;
    }
    view_.UpdateProgress(UpdateStage::kWrite, n, kFirmwarePages);
  }
  if (!Exchange(WriteIdentityPage)) {
    LogLine(" Fail to write BlueTooth info");
    return 0;
  }
  link_.PageIndex = 0;
  if (!Exchange(FlashWritePage)) {
    LogLine(" Fail to write flash add %x\n", 0);
    return 0;
  }
  view_.UpdateProgress(UpdateStage::kWrite, kFirmwarePages, kFirmwarePages);
  LogLine(" Done");

  LogLine(" Verify flash ..........");
  view_.UpdateProgress(UpdateStage::kVerify, 0, 1);
  if (!Exchange(FlashChecksum)) {
    LogLine(" Fail to verify flash");
    return 0;
  }
  // A short reply leaves older bytes in the buffer: only checksum bytes that
  // this reply delivered count.
  const auto& expected = ExpectedChecksum();
  const bool whole = link_.ReceivedCount == ExpectedReplyLength(FlashChecksum) &&
                     link_.ReplyFresh >= kChecksumOffset + 4;
  const bool match =
      whole && std::equal(expected.begin(), expected.end(),
                          link_.ReplyBuffer.begin() + kChecksumOffset);
  LogLine(" Done");
  if (!match) {
    LogLine(" !!!!! CRC error !!!!! ");
    return 0;
  }
  view_.UpdateProgress(UpdateStage::kVerify, 1, 1);
  return 1;
}

int MainDialog::ProgramDevice() {
  LogLine(" Start the programming: ");
  int attempts = 0;
  for (;;) {
    if (EnterBootMode() && (link_.IdentityRead || ReadIdentity()) &&
        ProgramFlash())
      break;
    // Closing and reopening puts the port back at the firmware's speed.
    ClosePort();
    ++attempts;
    ReopenFoundPort();
    if (attempts >= kMaxAttempts) {
      LogLine("         WARMING !!! FAILED !!!                       ");
      LogLine(" Please re-install the device and try again.");
      return 1;
    }
    platform_.clock.Sleep(kAttemptPauseMs);
  }
  LogLine(" Reboot MCU ");
  RestartDevice();
  ClosePort();
  LogLine(" ");
  LogLine(" Success ");
  LogLine(" ");
  return 0;
}

void MainDialog::OnUpdateFirmware() {
  if (!view_.ConfirmUpdate()) {
    LogLine(" Firmware update cancelled");
    return;
  }
  // Read the identity page once per press, so that another adapter plugged in
  // since the last update keeps its own address.
  link_.IdentityRead = 0;
  LogLine(" ");
  const int r = ProgramDevice();
  if (r == 0) link_.DeviceVersion = static_cast<int>(AvailableVersion);
  view_.ShowUpdateResult(r == 0);
}

}  // namespace brivelton
