// SPDX-License-Identifier: MIT
#pragma once
// The main window as a terminal sees it: the log on stdout, the dialogs as
// flags and a prompt, the progress bar on stderr.
#include <optional>
#include <string>
#include <vector>

#include "app/main_view.h"
#include "app/protocol_stack.h"
#include "log/message_log.h"
#include "cli/cli.h"
#include "cli/cli_args.h"

namespace brivelton::cli {

class CliView : public MainView {
 public:
  CliView(CliIo& io, const Options& options, const FirmwareImage& image)
      : io_(io), options_(options), image_(image) {}

  void ShowButton(int id, bool show) override;
  void AppendLog(const std::string& line) override;
  bool ConfirmUpdate() override;
  void ShowUpdateResult(bool success) override;
  bool EditSettings(SettingsValues& values) override;
  void UpdateProgress(UpdateStage stage, int done, int total) override;
  void FlashBegins() override;
  void FlashEnds(bool verified) override;
  void ReportAttempt(const AttemptEvent& event) override;
  // On a terminal, asks which saved address to write; with --yes or without
  // a terminal, names each with its --address line and refuses.
  AddressReply AskAddress(const std::vector<JournalEntry>& candidates) override;
  std::string HowToGiveAddress(const std::string& address) override;

  // One trace line on stderr, around the progress bar.
  void AppendTrace(const std::string& line);
  // Takes the progress bar off the terminal.
  void EndProgress();

  // What the parameter dialog showed, and what it ended with when OK.
  const std::optional<SettingsValues>& settings_shown() const { return settings_shown_; }
  const std::optional<SettingsValues>& settings_ok() const { return settings_ok_; }
  // Lines logged so far.
  const std::vector<std::string>& log() const { return log_; }
  // Where the parameter "dialog" traces; nothing is traced before it is set.
  void set_log(MessageLog& log) { trace_log_ = &log; }
  // The stack whose update this view shows: its port and the address decided.
  void set_stack(const ProtocolStack& stack) { stack_ = &stack; }
  // The attempts the last update began.
  int attempts() const { return attempts_; }

 private:
  MessageLog* trace_log_ = nullptr;
  const ProtocolStack* stack_ = nullptr;
  void DrawBar();
  void EraseBar();
  // Off the terminal while a line is printed; back after it unless finished.
  void LiftBar();
  // Without a terminal: a line when a stage starts and at each tenth of it.
  void ProgressLine(UpdateStage stage, int done, int total);
  // The paragraph after an update that may have left the adapter without
  // firmware: `opening`, then what that means and the command to run.
  std::string NoFirmwareParagraph(const std::string& opening, bool erased) const;

  CliIo& io_;
  const Options& options_;
  const FirmwareImage& image_;
  std::optional<SettingsValues> settings_shown_;
  std::optional<SettingsValues> settings_ok_;
  std::vector<std::string> log_;

  bool bar_on_ = false;
  UpdateStage bar_stage_ = UpdateStage::kErase;
  int bar_done_ = 0;
  int bar_total_ = 0;
  size_t bar_width_ = 0;  // the columns the bar now takes
  // From the first erase until the flash is verified or the last attempt failed.
  bool no_firmware_ = false;
  int attempts_ = 0;
  int line_stage_ = -1;   // the stage and tenth the last progress line showed
  int line_tenth_ = -1;
};

}  // namespace brivelton::cli
