// SPDX-License-Identifier: MIT
// Prints what the build installs beside the tool: `bash` the completion
// script, `man VERSION` the manual page, `utility-man VERSION` the window's.
#include <iostream>
#include <string>

#include "cli/docs.h"

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "bash" && argc == 2) std::cout << brivelton::cli::BashCompletion();
  else if (what == "man" && argc == 3) std::cout << brivelton::cli::ManPage(argv[2]);
  else if (what == "utility-man" && argc == 3) std::cout << brivelton::cli::UtilityManPage(argv[2]);
  else {
    std::cerr << "usage: brivelton_docs bash | man VERSION | utility-man VERSION\n";
    return 2;
  }
  return std::cout.flush().good() ? 0 : 1;
}
