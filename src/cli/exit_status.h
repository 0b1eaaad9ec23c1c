// SPDX-License-Identifier: MIT
#pragma once
// What `brivelton` exits with, so that scripts can act on the outcome without
// reading its words. The numbers never change once released; a signal that
// ends the program gives 128 + its number, as the shell reports it.

namespace brivelton::cli {

enum ExitStatus : int {
  kExitDone = 0,       // done as asked (also: nothing needed doing)
  kExitFailed = 1,     // tried and failed: the update not verified, a value not written
  kExitUsage = 2,      // bad usage; nothing was touched
  kExitNoAdapter = 3,  // no adapter answered on the ports searched
  kExitRefused = 4,    // refused before any change: firmware too old for settings, several
                       // saved addresses and none chosen, an image refused
  kExitCancelled = 5,  // cancelled: the warning answered No, no --yes without a terminal,
                       // Cancel at the address question
  kExitStartUpAddress = 6,  // `identity`: the adapter carries only the start-up address
};

}  // namespace brivelton::cli
