// SPDX-License-Identifier: MIT
#include "cli/interrupts.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iostream>

#ifndef _WIN32
#include "platform/posix/posix_serial.h"
#endif

namespace brivelton::cli {

namespace {

std::atomic<bool> g_flash_busy{false};
// The exit status the held interrupt ends the tool with; 0 for none.
std::atomic<int> g_held_status{0};

constexpr char kHeldMessage[] =
    "\nbrivelton: the flash is being written; stopping once it is written and checked "
    "(press Ctrl-C again to stop at once and leave the adapter without firmware)\n";

// The closing words of a flash cut short, made before the flash begins so
// that a signal handler only has to write them.
char g_closing[2048];
std::atomic<size_t> g_closing_size{0};
// From the first erase until a flash is verified: the adapter may have no
// firmware, a pause between two attempts included.
std::atomic<bool> g_no_firmware{false};

void WriteHeldMessage();
void WriteStderr(const char* text, size_t size);
[[noreturn]] void EndNow(int status);

// Ends the process; while the adapter may have no firmware, with the closing
// words first.
[[noreturn]] void EndWithClosing(int status) {
  if (g_no_firmware.load()) WriteStderr(g_closing, g_closing_size.load());
  EndNow(status);
}

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
  void FlashBegins(const std::string& closing) override {
    g_closing_size.store(0);
    const size_t size = std::min(closing.size(), sizeof g_closing);
    std::memcpy(g_closing, closing.data(), size);
    g_closing_size.store(size);
    g_no_firmware.store(true);
    g_flash_busy.store(true);
  }
  void FlashEnds(bool verified) override {
    const int held = g_held_status.load();
    if (verified) g_no_firmware.store(false);
    if (held == 0 || verified) {
      g_flash_busy.store(false);
      return;
    }
    std::cout.flush();
    std::cerr.flush();
    EndWithClosing(held);
  }
};

void WriteHeldMessage() { WriteStderr(kHeldMessage, sizeof kHeldMessage - 1); }

#ifdef _WIN32

// The statuses a POSIX shell would see for the matching signals: Ctrl-C is
// SIGINT (2) and Ctrl-Break SIGBREAK (21) in the C runtime; a closed console,
// a log-off or a shut-down hang the tool up as a closed terminal does.
constexpr int kCtrlCStatus = 128 + 2;
constexpr int kCtrlBreakStatus = 128 + 21;
constexpr int kHangUpStatus = 128 + 1;

void WriteStderr(const char* text, size_t size) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(size), &written, nullptr);
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
  if (!HoldDuringFlash(status)) EndWithClosing(status);
  // The system ends the process as soon as a hang-up's handler returns:
  // this one never does, and the tool ends by itself after the verdict, or
  // when the system's grace time is up.
  if (hang_up)
    for (;;) Sleep(INFINITE);
  return TRUE;
}

#else

void WriteStderr(const char* text, size_t size) {
  while (size > 0) {
    const ssize_t n = write(STDERR_FILENO, text, size);
    if (n <= 0) return;
    text += n;
    size -= static_cast<size_t>(n);
  }
}

[[noreturn]] void EndNow(int status) {
  ReleaseHeldPorts();
  _exit(status);
}

void OnSignal(int signo) {
  if (!HoldDuringFlash(128 + signo)) EndWithClosing(128 + signo);
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
