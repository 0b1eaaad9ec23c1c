// SPDX-License-Identifier: MIT
#include "cli/cli_view.h"

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <istream>
#include <ostream>
#include <vector>

#include "log/message_log.h"
#include "cli/interrupts.h"
#include "link/bt_address.h"
#include "params/settings_data.h"
#include "resources/dialog_templates.h"

namespace brivelton::cli {

namespace {

constexpr int kBarWidth = 30;

const char* StageLabel(UpdateStage stage) {
  switch (stage) {
    case UpdateStage::kErase: return "Erasing  ";
    case UpdateStage::kWrite: return "Writing  ";
    case UpdateStage::kVerify: return "Verifying";
  }
  return "";
}

// Beside the progress while the adapter has no firmware.
constexpr const char* kDoNotUnplug = "Do not unplug the adapter.";

// `word` as the shell (or cmd.exe) takes it back as one argument.
std::string ShellWord(const std::string& word) {
  const bool plain = !word.empty() && word.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789/\\._-:+,@") == std::string::npos;
  if (plain) return word;
#ifdef _WIN32
  return "\"" + word + "\"";
#else
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
#endif
}

// The static texts of the warning dialog, in template order.
std::vector<std::string> WarningTexts() {
  std::vector<std::string> texts;
  for (const auto& c : ui::UpdateConfirmDialogTemplate().controls)
    if (c.kind == ui::ControlKind::kLabel) texts.emplace_back(c.text);
  return texts;
}

// The answer as typed, without the spaces around it, in lower case.
std::string Trimmed(std::string answer) {
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
    answer.pop_back();
  answer.erase(0, std::min(answer.size(), answer.find_first_not_of(" \t")));
  for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return answer;
}

bool IsYes(const std::string& answer) {
  const std::string yes = Trimmed(answer);
  return yes == "y" || yes == "yes";
}

std::string SavedWhere(const JournalEntry& entry) {
  return "saved for " + Shown(entry.port) +
         (entry.usb.serial.empty() ? "" : " (USB serial number " + Shown(entry.usb.serial) + ")") +
         " at " + Shown(entry.saved);
}

}  // namespace

// A terminal has no buttons: the command says what runs next.
void CliView::ShowButton(int /*id*/, bool /*show*/) {}

void CliView::AppendLog(const std::string& line) {
  log_.push_back(line);
  if (options_.quiet) return;
  LiftBar();
  // With --json stdout carries the one object, so the log goes beside it.
  (options_.json ? io_.err : io_.out) << line << '\n' << std::flush;
  if (bar_on_) DrawBar();
}

void CliView::AppendTrace(const std::string& line) {
  LiftBar();
  io_.err << line << '\n' << std::flush;
  if (bar_on_) DrawBar();
}

bool CliView::ConfirmUpdate() {
  if (!options_.yes && !io_.stdin_tty) {
    io_.err << "brivelton: stdin is not a terminal, so nobody can answer the update "
               "warning; pass --yes to update\n"
            << std::flush;
    return false;
  }
  if (options_.yes && !io_.stderr_tty) return true;
  const std::vector<std::string> texts = WarningTexts();
  for (size_t i = 0; i + 1 < texts.size(); ++i) io_.err << texts[i] << '\n';
  if (image_.placeholder())
    io_.err << "This update writes firmware " << VersionText(image_.version()) << " ("
            << kPlaceholderNote << ").\n";
  io_.err << (texts.empty() ? std::string() : texts.back()) << " [y/N] ";
  if (options_.yes) {
    io_.err << "y (--yes)\n" << std::flush;
    return true;
  }
  io_.err << std::flush;
  std::string answer;
  if (!std::getline(io_.in, answer)) {
    io_.err << '\n' << std::flush;
    return false;
  }
  return IsYes(answer);
}

AddressReply CliView::AskAddress(const std::vector<JournalEntry>& candidates) {
  // Nothing saved: the start-up address, and the log says so.
  if (candidates.empty()) return {AddressAnswer::kContinueWithout, {}};
  const std::string startup = FormatBtAddress(kDefaultBtAddress);
  if (options_.yes || !io_.stdin_tty) {
    io_.err << "brivelton: the identity page carries no address of its own, and more than one "
               "address may be this adapter's: nothing was erased. Run the line for its "
               "address:\n";
    for (const auto& entry : candidates)
      io_.err << "  " << CommandLineRemedy(FormatBtAddress(entry.address)) << "   ("
              << SavedWhere(entry) << ")\n";
    io_.err << "  or brivelton update --start-up-address to write " << startup
            << " on purpose\n"
            << std::flush;
    return {AddressAnswer::kUndecided, {}};
  }
  io_.err << "The identity page carries no address of its own. Saved addresses that may be "
             "this adapter's:\n";
  for (size_t i = 0; i < candidates.size(); ++i)
    io_.err << "  " << i + 1 << ") " << FormatBtAddress(candidates[i].address) << "  "
            << SavedWhere(candidates[i]) << '\n';
  for (;;) {
    io_.err << "Type its number, or the adapter's address (12 hexadecimal digits), or s to write "
               "the start-up address " << startup << "; Enter cancels: " << std::flush;
    std::string line;
    if (!std::getline(io_.in, line)) {
      io_.err << '\n' << std::flush;
      return {AddressAnswer::kCancel, {}};
    }
    const std::string answer = Trimmed(line);
    if (answer.empty() || answer == "c" || answer == "cancel") return {AddressAnswer::kCancel, {}};
    if (answer == "s") return {AddressAnswer::kContinueWithout, {}};
    if (answer.size() <= 3 && std::all_of(answer.begin(), answer.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
      const size_t n = std::stoul(answer);
      if (n >= 1 && n <= candidates.size())
        return {AddressAnswer::kGiven, candidates[n - 1].address};
      io_.err << "brivelton: no candidate " << n << '\n';
      continue;
    }
    const auto address = ParseBtAddress(answer);
    if (!address) {
      io_.err << "brivelton: '" << Shown(line) << "' is neither a number of the list nor 12 "
                 "hexadecimal digits\n";
      continue;
    }
    if (const std::string why = MeaninglessAddressReason(*address); !why.empty()) {
      io_.err << "brivelton: " << why << '\n';
      continue;
    }
    return {AddressAnswer::kGiven, *address};
  }
}

std::string CliView::HowToGiveAddress(const std::string& address) {
  return CommandLineRemedy(address);
}

// The command prints the verdict after the progress bar is gone.
void CliView::ShowUpdateResult(bool /*success*/) {}

bool CliView::EditSettings(SettingsValues& values) {
  settings_shown_ = values;
  if (!options_.defaults && options_.assignments.empty()) return false;
  if (options_.defaults && trace_log_) trace_log_->Trace(" Set default");
  values = ApplySettings(values, options_.defaults, options_.assignments);
  if (trace_log_) TraceSettingsOnOk(values, *trace_log_);
  settings_ok_ = values;
  return true;
}

void CliView::UpdateProgress(UpdateStage stage, int done, int total) {
  // The checksum matched: the adapter has its firmware again.
  if (stage == UpdateStage::kVerify && done >= total) no_firmware_ = false;
  if (options_.quiet) return;
  if (!io_.stderr_tty) {
    ProgressLine(stage, done, total);
    return;
  }
  bar_on_ = true;
  bar_stage_ = stage;
  bar_done_ = done;
  bar_total_ = total;
  DrawBar();
}

void CliView::ProgressLine(UpdateStage stage, int done, int total) {
  const int percent = total > 0 ? std::clamp(done, 0, total) * 100 / total : 0;
  if (static_cast<int>(stage) == line_stage_ && percent / 10 <= line_tenth_) return;
  line_stage_ = static_cast<int>(stage);
  line_tenth_ = percent / 10;
  std::string label = StageLabel(stage);
  while (label.ends_with(' ')) label.pop_back();
  io_.err << label << ' ' << percent << "% (" << done << '/' << total << ')'
          << (no_firmware_ ? std::string(". ") + kDoNotUnplug : std::string()) << '\n'
          << std::flush;
}

void CliView::ReportAttempt(const AttemptEvent& event) {
  using Kind = AttemptEvent::Kind;
  if (event.kind == Kind::kBegins) {
    attempts_ = event.attempt;
    // The bar and the progress lines start over for the new attempt.
    line_stage_ = -1;
    line_tenth_ = -1;
    return;
  }
  if (event.kind == Kind::kVerified) {
    no_firmware_ = false;
    return;
  }
  if (options_.command != Command::kUpdate) return;
  if (event.kind == Kind::kFailed) {
    EndProgress();
    if (options_.quiet) return;
    io_.err << AttemptLine(event)
            << (event.erased && event.pause_ms > 0 ? std::string(" ") + kDoNotUnplug : "")
            << '\n' << std::flush;
    return;
  }
  // Given up: what the adapter is left with, and what to run, even with -q.
  no_firmware_ = false;
  char opening[96];
  std::snprintf(opening, sizeof opening, "the update failed after %d attempts", event.attempt);
  io_.err << NoFirmwareParagraph(opening, event.erased) << std::flush;
}

std::string CliView::NoFirmwareParagraph(const std::string& opening, bool erased) const {
  std::string port = stack_ ? stack_->link.state().PortName : std::string();
  std::string text = "brivelton: " + opening;
  if (!erased) {
    text += ", before anything was erased: the adapter keeps its firmware.";
  } else {
    text += ": the adapter has no working firmware.";
    const std::optional<AddressDecision> decision =
        stack_ ? stack_->updater.address_decision() : std::nullopt;
    if (decision && !decision->journal_file.empty())
      text += " Its Bluetooth address " + FormatBtAddress(decision->address) + " is saved at " +
              decision->journal_file + ".";
    else if (decision && decision->source == AddressSource::kStartUp)
      text += " It had no Bluetooth address of its own to save.";
  }
  // Unwrapped, so that the file's path can be copied whole.
  text += " To try again, run:\n";
  return text + "  brivelton " +
         (port.empty() ? std::string() : "--port " + ShellWord(port) + " ") + "update\n";
}

void CliView::FlashBegins() {
  no_firmware_ = true;
  if (io_.interrupts)
    io_.interrupts->FlashBegins(
        "\n" + NoFirmwareParagraph("stopped while the flash was written", true));
}

void CliView::FlashEnds(bool verified) {
  if (!io_.interrupts) return;
  if (!verified) EndProgress();
  io_.interrupts->FlashEnds(verified);
}

void CliView::EndProgress() {
  if (!bar_on_) return;
  EraseBar();
  bar_on_ = false;
}

// Carriage returns and spaces only: every console, Wine's too, draws it
// right without being told about escape sequences.
void CliView::DrawBar() {
  const int done = std::clamp(bar_done_, 0, std::max(bar_total_, 0));
  const int filled = bar_total_ > 0 ? done * kBarWidth / bar_total_ : 0;
  std::string bar = StageLabel(bar_stage_);
  bar += " [" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] " +
         std::to_string(bar_done_) + '/' + std::to_string(bar_total_);
  if (no_firmware_) bar += std::string("  ") + kDoNotUnplug;
  const size_t width = bar.size();
  if (bar.size() < bar_width_) bar.resize(bar_width_, ' ');
  bar_width_ = width;
  io_.err << '\r' << bar << std::flush;
}

void CliView::LiftBar() {
  if (!bar_on_) return;
  EraseBar();
  // A finished stage's bar has said its piece once the log moves on.
  if (bar_done_ >= bar_total_) bar_on_ = false;
}

void CliView::EraseBar() {
  io_.err << '\r' << std::string(bar_width_, ' ') << '\r' << std::flush;
  bar_width_ = 0;
}

}  // namespace brivelton::cli
