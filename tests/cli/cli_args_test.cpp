// The command line's contract: what it accepts, what it refuses (exit 2,
// before any port is touched), and the NAME=VALUE table.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/cli_args.h"
#include "cli_harness.h"
#include "params/settings_data.h"

namespace brivelton::testing {
namespace {

using cli::Command;
using cli::Options;

struct BadUsage {
  std::vector<std::string> args;
  std::string error;  // the whole one-line message after "brivelton: "
};

const BadUsage kBadUsages[] = {
    {{}, "no command given; commands: check, update, identity, settings, settings-help, "
         "firmware, ports, help (brivelton --help explains them)"},
    {{"frobnicate"}, "unknown command 'frobnicate'; commands: check, update, identity, "
                     "settings, settings-help, firmware, ports, help (brivelton --help explains them)"},
    {{"Check"}, "unknown command 'Check'; commands: check, update, identity, settings, "
                "settings-help, firmware, ports, help (brivelton --help explains them)"},
    {{"--bogus", "check"},
     "unknown option '--bogus'; accepted before the command: --port NAME, --verbose, --help"},
    {{"--yes", "update"},
     "unknown option '--yes'; accepted before the command: --port NAME, --verbose, --help"},
    {{"check", "--port"}, "option --port needs a port name, as in --port /dev/ttyUSB0"},
    {{"--port", "", "check"},
     "option --port needs a port name that is not empty, as in --port /dev/ttyUSB0"},
    {{"--port=", "check"},
     "option --port needs a port name that is not empty, as in --port /dev/ttyUSB0"},
    {{"check", "now"},
     "unexpected argument 'now' for check; it accepts nothing (and --port NAME, --verbose)"},
    {{"ports", "--all"},
     "unknown option '--all' for ports; it accepts --long (and --port NAME, --verbose)"},
    {{"update", "--force"},
     "unknown option '--force' for update; it accepts --yes, --address ADDRESS, --image FILE and "
     "--image-version HEX (and --port NAME, --verbose)"},
    {{"update", "yes"},
     "unexpected argument 'yes' for update; it accepts --yes, --address ADDRESS, --image FILE and "
     "--image-version HEX (and --port NAME, --verbose)"},
    {{"update", "--address"},
     "option --address needs a Bluetooth address, as in --address 00:1B:DC:0F:21:7E"},
    {{"update", "--address", "001BDC0F217"},
     "bad Bluetooth address '001BDC0F217'; give 12 hexadecimal digits, colons optional, as in "
     "00:1B:DC:0F:21:7E"},
    {{"update", "--address=00:1B:DC:0F:21:7G"},
     "bad Bluetooth address '00:1B:DC:0F:21:7G'; give 12 hexadecimal digits, colons optional, "
     "as in 00:1B:DC:0F:21:7E"},
    {{"update", "--address", "001B:DC0F:217E"},
     "bad Bluetooth address '001B:DC0F:217E'; give 12 hexadecimal digits, colons optional, as in "
     "00:1B:DC:0F:21:7E"},
    {{"update", "--address", "001BDC0F217E", "--address", "001BDC0F217E"},
     "option --address is given twice; give one address"},
    {{"identity", "--address", "001BDC0F217E"},
     "unknown option '--address' for identity; it accepts nothing (and --port NAME, --verbose)"},
    {{"settings", "--yes"}, "unknown option '--yes' for settings; it accepts --defaults and "
                            "NAME=VALUE (and --port NAME, --verbose)"},
    {{"settings-help", "caller-id"}, "unexpected argument 'caller-id' for settings-help; it "
                                     "accepts nothing (and --port NAME, --verbose)"},
    {{"firmware", "--defaults"}, "unknown option '--defaults' for firmware; it accepts "
                                 "--save FILE, --image FILE and --image-version HEX (and "
                                 "--port NAME, --verbose)"},
    // A firmware file goes with its version, on the commands that write or show it.
    {{"update", "--image", "fw.bin", "--yes"},
     "option --image needs --image-version HEX, the version of the image, as in "
     "--image-version 204"},
    {{"firmware", "--image-version", "204"}, "option --image-version goes with --image FILE"},
    {{"update", "--image", "fw.bin", "--image-version", "2.05"},
     "bad image version '2.05'; give one to three hexadecimal digits, as in 204 for 2.04"},
    {{"update", "--image=fw.bin", "--image-version=1000"},
     "bad image version '1000'; give one to three hexadecimal digits, as in 204 for 2.04"},
    {{"update", "--image-version", "204", "--image"},
     "option --image needs a file name, as in --image firmware.bin"},
    {{"update", "--image=", "--image-version", "204"},
     "option --image needs a file name, as in --image firmware.bin"},
    {{"update", "--image", "a.bin", "--image", "b.bin", "--image-version", "204"},
     "option --image is given twice; give it once"},
    {{"check", "--image", "fw.bin"},
     "unknown option '--image' for check; it accepts nothing (and --port NAME, --verbose)"},
    {{"--image", "fw.bin", "update"},
     "unknown option '--image'; accepted before the command: --port NAME, --verbose, --help"},
    {{"firmware", "--save"}, "option --save needs a file name, as in --save image.bin"},
    {{"firmware", "--save="}, "option --save needs a file name that is not empty"},
    {{"firmware", "--save", "a", "--save", "b"}, "option --save is given twice; give one file"},
    {{"settings", "volume=3"},
     "unknown setting 'volume'; settings: caller-id, echo-cancel, media-audio, "
     "dialtone-after-disconnect, reverse-tip-ring, strong-ringing, led-debug, dial-plan, "
     "offhook-power, hook-speed"},
    {{"settings", "Caller-ID=on"},
     "unknown setting 'Caller-ID'; settings: caller-id, echo-cancel, media-audio, "
     "dialtone-after-disconnect, reverse-tip-ring, strong-ringing, led-debug, dial-plan, "
     "offhook-power, hook-speed"},
    {{"settings", "=on"},
     "unknown setting ''; settings: caller-id, echo-cancel, media-audio, "
     "dialtone-after-disconnect, reverse-tip-ring, strong-ringing, led-debug, dial-plan, "
     "offhook-power, hook-speed"},
    {{"settings", "caller-id"},
     "setting caller-id needs a value, as in caller-id=off; accepted: off|on"},
    {{"settings", "caller-id=maybe"}, "bad value 'maybe' for caller-id; accepted: off|on"},
    {{"settings", "led-debug=ON"}, "bad value 'ON' for led-debug; accepted: off|on"},
    {{"settings", "echo-cancel="}, "bad value '' for echo-cancel; accepted: off|on"},
    {{"settings", "dial-plan=#"},
     "bad value '#' for dial-plan; accepted: with-timeout|without-timeout|hash-key"},
    {{"settings", "offhook-power=1"},
     "bad value '1' for offhook-power; accepted: low|medium|high|strong|strongest"},
    {{"settings", "hook-speed=30"},
     "bad value '30' for hook-speed; accepted: 30ms|50ms|70ms|100ms"},
    {{"settings", "hook-speed=30 ms"},
     "bad value '30 ms' for hook-speed; accepted: 30ms|50ms|70ms|100ms"},
    // A good assignment before the bad one is not written either.
    {{"settings", "caller-id=off", "strong-ringing=yes"},
     "bad value 'yes' for strong-ringing; accepted: off|on"},
    {{"settings", "caller-id=on", "caller-id=off"},
     "setting caller-id is given twice; give each setting once"},
};

TEST(CliBadUsage, ExitsTwoWithOneLineBeforeAnyPortIsTouched) {
  for (const auto& bad : kBadUsages) {
    SCOPED_TRACE(::testing::PrintToString(bad.args));
    CliHarness h;
    h.port_list.listing.entries.emplace_back("/dev/ttyUSB0");
    h.port_list.fallback = {"/dev/ttyUSB1"};
    const CliRun run = h.Run(bad.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "brivelton: " + bad.error + "\n");
    EXPECT_TRUE(h.Untouched());
  }
}

TEST(CliHelp, ExplainsEveryCommandSettingAndExitStatusWithoutTouchingPorts) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"help"}, {"help", "settings"}, {"check", "--help"},
           {"settings", "bogus=1", "--help"}, {"--port", "x", "-h", "frobnicate"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    CliHarness h;
    const CliRun run = h.Run(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(h.Untouched());
    EXPECT_EQ(run.out, cli::HelpText());
  }
  const std::string help = cli::HelpText();
  EXPECT_EQ(help.rfind("Usage: brivelton [--port NAME]... [--verbose] COMMAND [ARGS]\n", 0), 0u);
  for (const char* word :
       {"check", "update [--yes]", "settings [--defaults] [NAME=VALUE]...", "settings-help",
        "firmware [--save FILE]", "ports", "--verbose", "Exit status", "Examples",
        "\n     Set parameters cancelled\n", "\n     Firmware update cancelled\n",
        "\n    Firmware update done. Please re-pair device.\n",
        "\n    Update failed. Please unplug the device and try again.\n",
        "\n    Press \"OK\" to continue. [y/N]\n"})
    EXPECT_NE(help.find(word), std::string::npos) << word;
  for (const auto& s : cli::SettingNames()) {
    std::string values;
    for (const char* v : s.values) values += (values.empty() ? "" : "|") + std::string(v);
    EXPECT_NE(help.find(s.name), std::string::npos) << s.name;
    EXPECT_NE(help.find(values), std::string::npos) << values;
  }
}

TEST(CliArgs, GlobalOptionsGoBeforeOrAfterTheCommandAndPortsKeepTheirOrder) {
  Options o;
  std::string error;
  const std::vector<std::string> args = {"--port", "/dev/b", "--verbose", "update",
                                         "--port=/dev/a", "--yes", "--port", "/dev/b"};
  ASSERT_TRUE(cli::ParseArgs(args, o, error)) << error;
  EXPECT_EQ(o.command, Command::kUpdate);
  EXPECT_EQ(o.ports, (std::vector<std::string>{"/dev/b", "/dev/a", "/dev/b"}));
  EXPECT_TRUE(o.verbose);
  EXPECT_TRUE(o.yes);

  // Either address form names the same bytes, in the page's order.
  for (const char* form : {"00:1B:dc:0F:21:7e", "001BDC0F217E"}) {
    const std::vector<std::string> with_address = {"update", "--address", form};
    ASSERT_TRUE(cli::ParseArgs(with_address, o, error)) << error;
    EXPECT_EQ(o.address, (std::array<uint8_t, 6>{0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E})) << form;
  }

  const std::vector<std::string> plain = {"check"};
  ASSERT_TRUE(cli::ParseArgs(plain, o, error));
  EXPECT_EQ(o.command, Command::kCheck);
  EXPECT_TRUE(o.ports.empty());
  EXPECT_FALSE(o.verbose || o.yes || o.defaults || o.address);
}

// Each name and value lands in its own dialog member with the dialog's
// choice index (not the adapter's raw value).
TEST(CliArgs, EachSettingSetsItsDialogMember) {
  struct Case {
    const char* arg;
    int32_t SettingsValues::*member;
    int32_t value;
  };
  const Case cases[] = {
      {"caller-id=off", &SettingsValues::m_callerid, 0},
      {"echo-cancel=off", &SettingsValues::m_aec, 0},
      {"media-audio=on", &SettingsValues::m_a2dp, 1},
      {"dialtone-after-disconnect=on", &SettingsValues::m_dialtone_dis, 1},
      {"reverse-tip-ring=off", &SettingsValues::m_reverse_dis, 0},
      {"strong-ringing=on", &SettingsValues::m_strong_ring, 1},
      {"led-debug=on", &SettingsValues::m_led_display, 1},
      {"dial-plan=with-timeout", &SettingsValues::m_dial_plan_index, 0},
      {"dial-plan=without-timeout", &SettingsValues::m_dial_plan_index, 1},
      {"dial-plan=hash-key", &SettingsValues::m_dial_plan_index, 2},
      {"offhook-power=low", &SettingsValues::m_offhook_pwr_index, 0},
      {"offhook-power=medium", &SettingsValues::m_offhook_pwr_index, 1},
      {"offhook-power=high", &SettingsValues::m_offhook_pwr_index, 2},
      {"offhook-power=strong", &SettingsValues::m_offhook_pwr_index, 3},
      {"offhook-power=strongest", &SettingsValues::m_offhook_pwr_index, 4},
      {"hook-speed=30ms", &SettingsValues::m_hook_speed_index, 0},
      {"hook-speed=50ms", &SettingsValues::m_hook_speed_index, 1},
      {"hook-speed=70ms", &SettingsValues::m_hook_speed_index, 2},
      {"hook-speed=100ms", &SettingsValues::m_hook_speed_index, 3},
  };
  // Start from values no case asks for, so every change shows.
  SettingsValues shown;  // the lists without a choice
  shown.m_callerid = 1;
  shown.m_aec = 1;
  shown.m_reverse_dis = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg);
    Options o;
    std::string error;
    const std::vector<std::string> args = {"settings", c.arg};
    ASSERT_TRUE(cli::ParseArgs(args, o, error)) << error;
    const SettingsValues applied = cli::ApplySettings(shown, false, o.assignments);
    SettingsValues expected = shown;
    expected.*c.member = c.value;
    EXPECT_EQ(applied, expected);
    // And it prints back under the same name and value.
    const auto lines = cli::FormatSettings(applied);
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.arg), lines.end());
  }
}

TEST(CliArgs, DefaultsComeFirstAndAssignmentsOnTop) {
  Options o;
  std::string error;
  const std::vector<std::string> args = {"settings", "hook-speed=100ms", "--defaults",
                                         "caller-id=off"};
  ASSERT_TRUE(cli::ParseArgs(args, o, error)) << error;
  EXPECT_TRUE(o.defaults);
  SettingsValues shown;  // all unset
  SettingsValues expected = DefaultSettings();
  expected.m_hook_speed_index = 3;
  expected.m_callerid = 0;
  EXPECT_EQ(cli::ApplySettings(shown, o.defaults, o.assignments), expected);
}

TEST(CliArgs, SettingsPrintInTheDialogsOrder) {
  SettingsValues v = DefaultSettings();
  v.m_a2dp = 1;
  v.m_offhook_pwr_index = 4;
  EXPECT_EQ(cli::FormatSettings(v),
            (std::vector<std::string>{
                "caller-id=on", "echo-cancel=on", "media-audio=on",
                "dialtone-after-disconnect=off", "reverse-tip-ring=on", "strong-ringing=off",
                "led-debug=off", "dial-plan=with-timeout", "offhook-power=strongest",
                "hook-speed=70ms"}));
  SettingsValues unset;  // a list without a choice says so rather than inventing one
  EXPECT_EQ(cli::FormatSettings(unset).back(), "hook-speed=none");
}

}  // namespace
}  // namespace brivelton::testing
