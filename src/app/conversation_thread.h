// SPDX-License-Identifier: MIT
#pragma once
// The thread a button's conversation runs on, so that the window keeps
// answering, repaints and shows its progress meanwhile.
#include <functional>
#include <string>
#include <thread>

#include "platform/result.h"

namespace brivelton {

class ConversationThread {
 public:
  // Makes the thread that runs `body`; throws what std::thread throws.
  using Spawn = std::function<std::thread(std::function<void()> body)>;
  // What ended a conversation that threw; empty when it ran to its end.
  using Done = std::function<void(const std::string& failure)>;

  ConversationThread();
  ~ConversationThread() { Join(); }
  ConversationThread(const ConversationThread&) = delete;
  ConversationThread& operator=(const ConversationThread&) = delete;

  // Runs `work` on a thread of its own and then `done` on that same thread,
  // with what stopped `work` if it threw. An error when no thread could be
  // made: then neither runs.
  Result<void> Start(std::function<void()> work, Done done);
  // Waits for the thread's end; none running returns at once.
  void Join();
  bool joinable() const { return thread_.joinable(); }

  void set_spawn(Spawn spawn) { spawn_ = std::move(spawn); }

 private:
  Spawn spawn_;
  std::thread thread_;
};

}  // namespace brivelton
