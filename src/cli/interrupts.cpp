#include "cli/interrupts.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <iostream>

#include "platform/posix_serial.h"

namespace brivelton::cli {

namespace {

std::atomic<bool> g_flash_busy{false};
std::atomic<int> g_held_signal{0};

constexpr char kHeldMessage[] =
    "\nbrivelton: the flash is being written; stopping once it is written and checked "
    "(press Ctrl-C again to stop at once and leave the adapter without firmware)\n";

[[noreturn]] void EndNow(int signo) {
  ReleaseHeldPorts();
  _exit(128 + signo);
}

void OnSignal(int signo) {
  int none = 0;
  if (g_flash_busy.load() && g_held_signal.compare_exchange_strong(none, signo)) {
    [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, kHeldMessage, sizeof kHeldMessage - 1);
    return;
  }
  EndNow(signo);
}

class ProcessInterrupts : public Interrupts {
 public:
  void FlashBegins() override { g_flash_busy.store(true); }
  void FlashEnds(bool verified) override {
    g_flash_busy.store(false);
    const int held = g_held_signal.load();
    if (held == 0 || verified) return;
    std::cout.flush();
    std::cerr.flush();
    EndNow(held);
  }
};

}  // namespace

Interrupts& InstallInterruptHandlers() {
  static ProcessInterrupts interrupts;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Held off while one handler runs, so two signals never race for the slot.
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaddset(&action.sa_mask, SIGHUP);
  action.sa_flags = SA_RESTART;
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) sigaction(signo, &action, nullptr);
  return interrupts;
}

}  // namespace brivelton::cli
