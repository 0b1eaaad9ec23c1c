#pragma once
// The firmware update: reading the identity page, getting the adapter into its
// boot loader, programming and verifying the flash, and the attempts around it.
#include <functional>
#include <utility>

#include "link/link.h"
#include "resources/firmware_image.h"

namespace brivelton {

enum class UpdateStage { kErase, kWrite, kVerify };

class Updater {
 public:
  // Erase block `done` of `total`, page `done` of `total`, verify 0 or 1 of 1.
  using ProgressObserver = std::function<void(UpdateStage stage, int done, int total)>;

  // `restart_device` says the reset pair at both speeds (the search owns it).
  Updater(Link& link, const FirmwareImage& image, std::function<void()> restart_device);
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  void set_progress(ProgressObserver progress) { progress_ = std::move(progress); }

  int ReadIdentity();
  int EnterBootMode();
  int ProgramFlash();
  // 0 on success, 1 on failure.
  int ProgramDevice();
  // One press of Update Firmware after the warning: the identity page is read
  // afresh, and a success records the image's version as the adapter's.
  int RunUpdate();

 private:
  void Progress(UpdateStage stage, int done, int total) {
    if (progress_) progress_(stage, done, total);
  }

  Link& link_;
  LinkState& state_;
  MessageLog& log_;
  const FirmwareImage& image_;
  std::function<void()> restart_device_;
  ProgressObserver progress_;
};

}  // namespace brivelton
