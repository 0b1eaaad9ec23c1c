// SPDX-License-Identifier: MIT
#pragma once
// SIGINT, SIGTERM and SIGHUP in the command-line tool (on Windows Ctrl-C,
// Ctrl-Break and the console's close, log-off and shut-down). While the flash
// is erased and written they are held until that attempt's verdict; at any
// other time, and on a second one, the tool ends at once with 128 + the
// signal's number. Either way the port is released first, so that it opens
// again for everyone, and the identity journal keeps the address for the next
// run.
#include <string>

namespace brivelton::cli {

class Interrupts {
 public:
  virtual ~Interrupts() = default;
  // `closing`: the words on stderr if the tool ends before the verdict, or
  // after a failed one: what the adapter is left with and what to run.
  virtual void FlashBegins(const std::string& closing) = 0;
  // Ends the process with 128 + the held signal's number when one arrived
  // and the attempt failed: no further attempt is made.
  virtual void FlashEnds(bool verified) = 0;
};

// The process's handlers; installed once by main().
Interrupts& InstallInterruptHandlers();

}  // namespace brivelton::cli
