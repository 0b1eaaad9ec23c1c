#include <gtest/gtest.h>

#include "gui/qt/utility_args.h"

namespace brivelton::qt {
namespace {

TEST(UtilityArgsTest, PortsInOrderAndEveryMistakeRefused) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    std::vector<std::string> ports;
    bool help;
  };
  const std::vector<Case> cases = {
      {{}, true, {}, false},
      {{"--port", "/dev/pts/3"}, true, {"/dev/pts/3"}, false},
      {{"--port", "/tmp/a", "--port=/dev/ttyUSB1"}, true, {"/tmp/a", "/dev/ttyUSB1"}, false},
      {{"--help"}, true, {}, true},
      {{"--port"}, false, {}, false},
      {{"--port="}, false, {}, false},
      {{"--port", ""}, false, {}, false},
      {{"/dev/ttyUSB0"}, false, {}, false},
      {{"--verbose"}, false, {}, false},
      {{"--image", "fw.bin", "--image-version", "205", "--port", "/tmp/a"}, true, {"/tmp/a"}, false},
      {{"--image=fw.bin"}, false, {}, false},
      {{"--image-version", "205"}, false, {}, false},
      {{"--image", "fw.bin", "--image-version", "20.5"}, false, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    UtilityArgs out;
    std::string error;
    EXPECT_EQ(ParseUtilityArgs(c.args, out, error), c.ok);
    EXPECT_EQ(error.empty(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(out.ports, c.ports);
    EXPECT_EQ(out.help, c.help);
    EXPECT_EQ(out.image.path.has_value(), out.image.version.has_value());
  }
}

}  // namespace
}  // namespace brivelton::qt
