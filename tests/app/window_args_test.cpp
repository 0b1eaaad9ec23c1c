// SPDX-License-Identifier: MIT
// The window's command line, the same on Linux and Windows: the ports in
// order, a firmware file with its version, and every mistake refused with
// the text the command-line tool gives for the same option.
#include "app/window_args.h"

#include <gtest/gtest.h>

#include "support/failure_of.h"

namespace brivelton {
namespace {

TEST(WindowArgs, PortsInOrderAndEveryMistakeRefused) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
    std::vector<std::string> ports;
    bool help;
  };
  const std::string unexpected =
      "'; accepted: --port NAME, --image FILE, --image-version HEX, --version, --help";
  const std::vector<Case> cases = {
      {{}, "", {}, false},
      {{"--port", "/dev/pts/3"}, "", {"/dev/pts/3"}, false},
      {{"--port", "/tmp/a", "--port=/dev/ttyUSB1"}, "", {"/tmp/a", "/dev/ttyUSB1"}, false},
      {{"--help"}, "", {}, true},
      {{"-h"}, "", {}, true},
      {{"--port"}, "option --port needs a port name, as in --port /dev/ttyUSB0", {}, false},
      {{"--port="}, "option --port needs a port name that is not empty, as in --port /dev/ttyUSB0",
       {}, false},
      {{"--port", ""},
       "option --port needs a port name that is not empty, as in --port /dev/ttyUSB0", {}, false},
      {{"/dev/ttyUSB0"}, "unexpected argument '/dev/ttyUSB0" + unexpected, {}, false},
      {{"--verbose"}, "unexpected argument '--verbose" + unexpected, {}, false},
      {{"--help=yes"}, "unexpected argument '--help=yes" + unexpected, {}, false},
      {{"--image", "fw.bin", "--image-version", "205", "--port", "/tmp/a"}, "", {"/tmp/a"}, false},
      {{"--image=fw.bin", "--image-version=0x205"}, "", {}, false},
      {{"--image=fw.bin"},
       "option --image needs --image-version HEX, the version of the image, as in "
       "--image-version 204", {}, false},
      {{"--image-version", "205"}, "option --image-version goes with --image FILE", {}, false},
      {{"--image", "fw.bin", "--image-version", "20.5"},
       "bad image version '20.5'; give one to three hexadecimal digits, as in 204 for 2.04", {},
       false},
      {{"--image"}, "option --image needs a file name, as in --image firmware.bin", {}, false},
      {{"--image="}, "option --image needs a file name, as in --image firmware.bin", {}, false},
      {{"--image-version"},
       "option --image-version needs the image's version in hexadecimal, as in "
       "--image-version 204", {}, false},
      {{"--image", "a.bin", "--image", "b.bin"}, "option --image is given twice; give it once", {},
       false},
      {{"--images", "a"}, "unexpected argument '--images" + unexpected, {}, false},
      // The forms of getopt_long; the window takes no operands.
      {{"-h", "--port=/dev/a"}, "", {"/dev/a"}, true},
      {{"--port", "--", "--"}, "", {"--"}, false},
      {{"--", "--help"}, "unexpected argument '--help" + unexpected, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const auto out = ParseWindowArgs(c.args);
    EXPECT_EQ(FailureOf(out), c.error);
    if (!out) continue;
    EXPECT_EQ(out->ports, c.ports);
    EXPECT_EQ(out->help, c.help);
    EXPECT_EQ(out->image.path.has_value(), out->image.version.has_value());
  }
  // The value goes where it was given.
  const auto out = ParseWindowArgs({"--image-version", "0x2b7", "--image", "dir/fw.bin"});
  ASSERT_EQ(FailureOf(out), "");
  EXPECT_EQ(out->image.path, "dir/fw.bin");
  EXPECT_EQ(out->image.version, "0x2b7");
}

TEST(WindowArgs, UsageNamesEveryOption) {
  EXPECT_EQ(std::string(WindowUsage()),
            "usage: brivelton-utility [--port NAME]... [--image FILE --image-version HEX]\n"
            "  --port NAME          look for the adapter on this serial port only (repeatable),\n"
            "                       for example the terminal that brivelton-sim prints;\n"
            "                       without it the system's serial ports are searched\n"
            "  --image FILE         update with the firmware image in FILE (exactly 512000\n"
            "                       bytes) in place of the built-in one; needs --image-version\n"
            "  --image-version HEX  the version of that image (204 is 2.04)\n"
            "  --version            the program's version and the built-in firmware's\n"
            "  --help               this text\n");
}

}  // namespace
}  // namespace brivelton
