// SPDX-License-Identifier: MIT
#include "app/conversation_thread.h"

#include <exception>
#include <utility>

namespace brivelton {

ConversationThread::ConversationThread()
    : spawn_([](std::function<void()> body) { return std::thread(std::move(body)); }) {}

Result<void> ConversationThread::Start(std::function<void()> work, Done done) {
  Join();
  auto body = [work = std::move(work), done = std::move(done)] {
    // Nothing may leave the thread: std::terminate would end the program
    // with the window and the adapter in whatever state they were.
    std::string failure;
    try {
      work();
    } catch (const std::exception& e) {
      failure = e.what();
      if (failure.empty()) failure = "an exception without a message";
    } catch (...) {
      failure = "an exception of unknown type";
    }
    done(failure);
  };
  try {
    thread_ = spawn_(std::move(body));
  } catch (const std::exception& e) {
    return Error(e.what());
  } catch (...) {
    return Error("an exception of unknown type");
  }
  return {};
}

void ConversationThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace brivelton
