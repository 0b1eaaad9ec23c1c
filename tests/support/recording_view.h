// SPDX-License-Identifier: MIT
#pragma once
// A main window for tests: keeps the log and the buttons' visibility, and
// answers the dialogs as a test tells it to.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/main_view.h"
#include "cli/cli_args.h"
#include "log/message_log.h"

namespace brivelton::testing {

class RecordingView : public MainView {
 public:
  void ShowButton(int id, bool show) override { visible[id] = show; }
  void AppendLog(const std::string& line) override { log.push_back(line); }
  bool ConfirmUpdate() override {
    ++confirm_calls;
    return confirm;
  }
  void ShowUpdateResult(bool success) override { results.push_back(success); }
  bool EditSettings(SettingsValues& values) override {
    shown_settings.push_back(values);
    if (!edit_settings) return false;
    return edit_settings(values);
  }
  void UpdateProgress(UpdateStage stage, int done, int total) override {
    progress.push_back({stage, done, total});
  }
  // As the tool names it, so that the update's log reads as the tool's does.
  std::string HowToGiveAddress(const std::string& address) override {
    return cli::CommandLineRemedy(address);
  }

  // A message-log sink that appends here, as a window's log does.
  LineSink sink() {
    return [this](const std::string& line) { AppendLog(line); };
  }

  bool IsVisible(int id) const {
    auto it = visible.find(id);
    return it != visible.end() && it->second;
  }
  // The log from line `from` on, for asserting a procedure's own lines.
  std::vector<std::string> LogFrom(size_t from) const {
    return {log.begin() + static_cast<long>(std::min(from, log.size())), log.end()};
  }

  struct Progress {
    UpdateStage stage;
    int done;
    int total;
  };

  std::vector<std::string> log;
  std::map<int, bool> visible;
  bool confirm = true;
  int confirm_calls = 0;
  std::vector<bool> results;
  std::vector<SettingsValues> shown_settings;
  std::function<bool(SettingsValues&)> edit_settings;
  std::vector<Progress> progress;
};

}  // namespace brivelton::testing
