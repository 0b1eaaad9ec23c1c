// SPDX-License-Identifier: MIT
#pragma once
// The standard streams a program was started with, made safe to write before
// anything else is opened.

namespace brivelton {

// Opens each of standard input, output and error that was started closed on
// the null device, so that the next file or port opened cannot take its
// number and receive what is meant for the stream. Call first thing in main.
void OpenMissingStandardStreams();

}  // namespace brivelton
