// SPDX-License-Identifier: MIT
#pragma once
// The main window's side of the page: what the core shows and asks, handed to
// page.js (the log, the buttons, the dialogs, the bar and its lines). Calls
// that wait on the user await promises through Asyncify.
#include <functional>
#include <string>
#include <vector>

#include "app/conversation.h"
#include "log/message_log.h"

namespace brivelton::web {

class WebView : public ConversationView {
 public:
  void ShowButton(int id, bool show) override;
  void AppendLog(const std::string& line) override;
  bool ConfirmUpdate() override;
  void ShowUpdateResult(bool success) override;
  bool EditSettings(SettingsValues& values) override;
  AddressReply AskAddress(const std::vector<JournalEntry>& candidates) override;
  std::string HowToGiveAddress(const std::string& address) override;

  // A button's work, when the conversation lets one start.
  bool Start();
  void End();
  // Whether a button's work runs (it may be waiting on the browser): the
  // machine behind the window must not change under it.
  bool working() const { return !conversation_.idle(); }

  // The session's log, for the settings' trace.
  MessageLog* log = nullptr;
  // The session's update: whether the address of one that failed is kept.
  const Updater* updater = nullptr;

 protected:
  // The page has one thread: the flash's events are on it already.
  void OnWindowThread(const std::function<void()>& call) override { call(); }
  void Redraw() override;

  bool AddressSaved() override;
};

}  // namespace brivelton::web
