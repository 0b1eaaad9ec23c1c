// SPDX-License-Identifier: MIT
#include "cli/interrupts.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdlib>
#include <iostream>

#ifndef _WIN32
#include "platform/posix_serial.h"
#endif

namespace brivelton::cli {

namespace {

std::atomic<bool> g_flash_busy{false};
// The exit status the held interrupt ends the tool with; 0 for none.
std::atomic<int> g_held_status{0};

constexpr char kHeldMessage[] =
    "\nbrivelton: the flash is being written; stopping once it is written and checked "
    "(press Ctrl-C again to stop at once and leave the adapter without firmware)\n";

void WriteHeldMessage();
[[noreturn]] void EndNow(int status);

// True when the interrupt is held until the flash's verdict: the first one
// while the flash is written.
bool HoldDuringFlash(int status) {
  int none = 0;
  if (!g_flash_busy.load() || !g_held_status.compare_exchange_strong(none, status)) return false;
  WriteHeldMessage();
  return true;
}

class ProcessInterrupts : public Interrupts {
 public:
  void FlashBegins() override { g_flash_busy.store(true); }
  void FlashEnds(bool verified) override {
    g_flash_busy.store(false);
    const int held = g_held_status.load();
    if (held == 0 || verified) return;
    std::cout.flush();
    std::cerr.flush();
    EndNow(held);
  }
};

#ifdef _WIN32

// The statuses a POSIX shell would see for the matching signals: Ctrl-C is
// SIGINT (2) and Ctrl-Break SIGBREAK (21) in the C runtime; a closed console,
// a log-off or a shut-down hang the tool up as a closed terminal does.
constexpr int kCtrlCStatus = 128 + 2;
constexpr int kCtrlBreakStatus = 128 + 21;
constexpr int kHangUpStatus = 128 + 1;

void WriteHeldMessage() {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), kHeldMessage, sizeof kHeldMessage - 1, &written,
            nullptr);
}

// The port's handle goes with the process; nothing else is left to release.
[[noreturn]] void EndNow(int status) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  for (;;) Sleep(INFINITE);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const bool hang_up = event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT;
  const int status = hang_up ? kHangUpStatus
                     : event == CTRL_C_EVENT ? kCtrlCStatus
                                             : kCtrlBreakStatus;
  if (!HoldDuringFlash(status)) EndNow(status);
  // The system ends the process as soon as a hang-up's handler returns:
  // this one never does, and the tool ends by itself after the verdict, or
  // when the system's grace time is up.
  if (hang_up)
    for (;;) Sleep(INFINITE);
  return TRUE;
}

#else

void WriteHeldMessage() {
  [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, kHeldMessage, sizeof kHeldMessage - 1);
}

[[noreturn]] void EndNow(int status) {
  ReleaseHeldPorts();
  _exit(status);
}

void OnSignal(int signo) {
  if (!HoldDuringFlash(128 + signo)) EndNow(128 + signo);
}

#endif

}  // namespace

Interrupts& InstallInterruptHandlers() {
  static ProcessInterrupts interrupts;
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Held off while one handler runs, so two signals never race for the slot.
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaddset(&action.sa_mask, SIGHUP);
  action.sa_flags = SA_RESTART;
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
    // Ignored when we were started (nohup, a shell's background job): the
    // one who started us asked for that.
    struct sigaction inherited {};
    if (sigaction(signo, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    sigaction(signo, &action, nullptr);
  }
#endif
  return interrupts;
}

}  // namespace brivelton::cli
