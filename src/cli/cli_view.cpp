// SPDX-License-Identifier: MIT
#include "cli/cli_view.h"

#include <algorithm>
#include <cctype>
#include <istream>
#include <ostream>
#include <vector>

#include "log/message_log.h"
#include "cli/interrupts.h"
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

// The static texts of the warning dialog, in template order.
std::vector<std::string> WarningTexts() {
  std::vector<std::string> texts;
  for (const auto& c : ui::UpdateConfirmDialogTemplate().controls)
    if (c.kind == ui::ControlKind::kLabel) texts.emplace_back(c.text);
  return texts;
}

bool IsYes(std::string answer) {
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
    answer.pop_back();
  answer.erase(0, std::min(answer.size(), answer.find_first_not_of(" \t")));
  for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return answer == "y" || answer == "yes";
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
  if (!io_.stderr_tty || options_.quiet) return;
  bar_on_ = true;
  bar_stage_ = stage;
  bar_done_ = done;
  bar_total_ = total;
  DrawBar();
}

void CliView::FlashBegins() {
  if (io_.interrupts) io_.interrupts->FlashBegins();
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

void CliView::DrawBar() {
  const int done = std::clamp(bar_done_, 0, std::max(bar_total_, 0));
  const int filled = bar_total_ > 0 ? done * kBarWidth / bar_total_ : 0;
  io_.err << "\r\033[K" << StageLabel(bar_stage_) << " ["
          << std::string(static_cast<size_t>(filled), '#')
          << std::string(static_cast<size_t>(kBarWidth - filled), '.') << "] " << bar_done_
          << '/' << bar_total_ << std::flush;
}

void CliView::LiftBar() {
  if (!bar_on_) return;
  EraseBar();
  // A finished stage's bar has said its piece once the log moves on.
  if (bar_done_ >= bar_total_) bar_on_ = false;
}

void CliView::EraseBar() { io_.err << "\r\033[K" << std::flush; }

}  // namespace brivelton::cli
