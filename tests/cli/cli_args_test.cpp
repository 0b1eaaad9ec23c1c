// SPDX-License-Identifier: MIT
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
     "unknown option '--bogus'; accepted before the command: --port NAME, --verbose, --quiet, "
     "--help, --version"},
    {{"--yes", "update"},
     "unknown option '--yes'; accepted before the command: --port NAME, --verbose, --quiet, "
     "--help, --version"},
    {{"check", "--port"}, "option --port needs a port name, as in --port /dev/ttyUSB0"},
    {{"--port", "", "check"},
     "option --port needs a port name that is not empty, as in --port /dev/ttyUSB0"},
    {{"--port=", "check"},
     "option --port needs a port name that is not empty, as in --port /dev/ttyUSB0"},
    {{"check", "now"},
     "unexpected argument 'now' for check; it accepts --json (and --port NAME, --verbose, --quiet, --version)"},
    {{"ports", "--all"},
     "unknown option '--all' for ports; it accepts --long and --json (and --port NAME, --verbose, --quiet, --version)"},
    {{"update", "--force"},
     "unknown option '--force' for update; it accepts --yes, --if-older, --address ADDRESS, "
     "--start-up-address, --image FILE, --image-version HEX and --json (and --port NAME, --verbose, --quiet, "
     "--version)"},
    {{"update", "yes"},
     "unexpected argument 'yes' for update; it accepts --yes, --if-older, --address ADDRESS, "
     "--start-up-address, --image FILE, --image-version HEX and --json (and --port NAME, --verbose, --quiet, "
     "--version)"},
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
    {{"update", "--address", "00:00:00:00:00:00"},
     "refused Bluetooth address '00:00:00:00:00:00': all zeros is no adapter's address"},
    {{"update", "--address", "ffffffffffff"},
     "refused Bluetooth address 'ffffffffffff': all FF is no adapter's address"},
    {{"update", "--address", "00:01:00:03:04:06"},
     "refused Bluetooth address '00:01:00:03:04:06': 00:01:00:03:04:06 is the start-up address "
     "every blank adapter gets"},
    {{"update", "--address", "001BDC0F217E", "--address", "001BDC0F217E"},
     "option --address is given twice; give one address"},
    {{"update", "--address", "001BDC0F217E", "--start-up-address"},
     "--address and --start-up-address name two addresses; give one"},
    {{"update", "--start-up-address", "--address", "001BDC0F217E"},
     "--address and --start-up-address name two addresses; give one"},
    {{"identity", "--address", "001BDC0F217E"},
     "unknown option '--address' for identity; it accepts --json (and --port NAME, --verbose, --quiet, --version)"},
    {{"settings", "--yes"},
     "unknown option '--yes' for settings; it accepts --defaults, --json and NAME=VALUE "
     "(and --port NAME, --verbose, --quiet, --version)"},
    {{"settings-help", "caller-id"},
     "unexpected argument 'caller-id' for settings-help; it accepts nothing "
     "(and --port NAME, --verbose, --quiet, --version)"},
    {{"firmware", "--defaults"},
     "unknown option '--defaults' for firmware; it accepts --save FILE, --image FILE, "
     "--image-version HEX and --json (and --port NAME, --verbose, --quiet, --version)"},
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
     "unknown option '--image' for check; it accepts --json (and --port NAME, --verbose, --quiet, --version)"},
    {{"--image", "fw.bin", "update"},
     "unknown option '--image'; accepted before the command: --port NAME, --verbose, --quiet, "
     "--help, --version"},
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
    // The forms getopt_long takes: a switch given a value, a bundle with a
    // letter no option has or one of a command's options before the command,
    // and "--", after which nothing is an option.
    {{"--json=yes", "check"}, "option --json takes no value; give --json alone"},
    {{"check", "--json=yes"}, "option --json takes no value; give --json alone"},
    {{"update", "--yes=no"}, "option --yes takes no value; give --yes alone"},
    {{"-qz", "check"},
     "unknown option '-z'; accepted before the command: --port NAME, --verbose, --quiet, "
     "--help, --version"},
    {{"-qy", "update"},
     "unknown option '-y'; accepted before the command: --port NAME, --verbose, --quiet, "
     "--help, --version"},
    {{"check", "-p"}, "option --port needs a port name, as in --port /dev/ttyUSB0"},
    {{"--", "--port", "/dev/ttyUSB0", "check"},
     "unknown command '--port'; commands: check, update, identity, settings, settings-help, "
     "firmware, ports, help (brivelton --help explains them)"},
    {{"update", "--", "--yes"},
     "unexpected argument '--yes' for update; it accepts --yes, --if-older, --address ADDRESS, "
     "--start-up-address, --image FILE, --image-version HEX and --json (and --port NAME, --verbose, --quiet, "
     "--version)"},
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

// The whole help, as a user reads it: the table it is made from must not
// move a column or a word.
constexpr const char* kHelp = R"help(Usage: brivelton [--port NAME]... [--verbose] COMMAND [ARGS]

Services the telephone adapter on a serial port: finds it, reads its firmware
version, writes the built-in firmware and reads or writes its ten settings.

Commands:
  check                                  Check Device: find the adapter, read its
                                         firmware version, advise
  update [--yes] [--address ADDRESS] [--start-up-address]
                                         Check Device, then Update Firmware
  identity                               Check Device, then read the adapter's
                                         Bluetooth address from its identity page
                                         through its boot loader, and restart it (a
                                         call in progress drops; nothing is erased
                                         or written)
  settings [--defaults] [NAME=VALUE]...  Check Device, then Setting
  settings-help                          the 41 help lines of the settings
  firmware [--save FILE]                 the built-in image: version, size, checksum
  ports [--long]                         the port names the search would probe, in order
  help                                   this text (also --help, -h)

Options (before or after the command):
  --port NAME   probe exactly this port; repeat it to probe several, in the order
                given, in place of the system's port list. The search, its
                messages and its fallback rules stay as they are. Without
                --port, the names in $BRIVELTON_PORT (separated by spaces or
                commas) are probed, when it is set and not empty.
  --verbose     print the trace lines on stderr
  --quiet       print no log lines and no progress bar, only the results and
                the errors
  --version     print the program's version and the built-in firmware's, one
                line each
  --yes         (update) answer OK to the update warning without asking (on a
                terminal the warning still shows on stderr, answered)
  --if-older    (update) update only an adapter whose firmware is older
                than the image: after Check Device, one log line says the
                adapter is up to date (and one line on stderr, even with -q),
                nothing is written and the exit status is 0. An adapter whose
                version can't be read is updated.
  --address ADDRESS
                (update) the adapter's Bluetooth address, 12 hexadecimal digits,
                colons optional (00:1B:DC:0F:21:7E or 001BDC0F217E), written when
                the adapter's identity page carries none; an adapter whose page
                still carries its address keeps it, and the log says so
  --start-up-address
                (update) write the start-up address 00:01:00:03:04:06
                when the identity page carries no address, on purpose, in place
                of any saved one (every blank adapter gets it, so adapters
                given it share one address)
  --defaults    (settings) start from the dialog's Set to Default values; any
                NAME=VALUE is applied on top
  --save FILE   (firmware) write the built-in image to FILE
  --image FILE  (update, firmware) the firmware image in FILE in place of the
                built-in one, under the same rules: exactly 512000 bytes, its
                checksum computed from it. Needs --image-version.
  --image-version HEX
                (update, firmware) the version of that image, one to three
                hexadecimal digits: 204 is 2.04. Check Device compares the
                adapter's version with it.
  --long        (ports) each name with what the system knows of it: driver,
                usb=VENDOR:PRODUCT, manufacturer, product, serial and the
                /dev/serial/by-id name, tab-separated after the name
  --json        (check, update, identity, settings, firmware, ports) print the
                results as one JSON object on stdout and nothing else there;
                the log goes to stderr. The exit status is the same. The manual
                page lists the fields.
  -p, -q, -V and -y stand for --port, --quiet, --version and --yes.
  Short switches combine (-qy), a value may follow its option joined
  (-p/dev/ttyUSB0, --port=/dev/ttyUSB0), a switch takes no value (--verbose=yes
  is refused) and -- ends the options.

Output:
  check, update and settings print the message log on stdout, one line per logged
  line, the moment it is logged, exactly as logged. After the log, update prints
  the result text, one of
    Firmware update done. Please re-pair device.
    Update failed. Please unplug the device and try again.
  and settings prints the ten values as NAME=VALUE lines, in the order of the
  table below. Nothing else goes to stdout.

  update and settings start with Check Device and go no further when no adapter
  answers.

  update shows the update warning on stderr and, when stdin is a terminal, asks
    Press "OK" to continue. [y/N]
  where y or yes is OK and anything else cancels. Without a terminal and without
  --yes the update is cancelled, and the log ends with
     Firmware update cancelled
  While the flash is erased and written, a progress bar shows on stderr when
  stderr is a terminal, and otherwise one line per stage and per tenth of it
  (neither with -q); both say not to unplug the adapter while it has no
  firmware. A failed attempt is told there too, such as
    Attempt 2 of 20 failed: the checksum did not match. Trying again in 3 s.
  and after the last one a paragraph says what the adapter is left with, where
  its address is saved and the command to run.

  Before it erases anything, update saves the adapter's Bluetooth address in
  $XDG_STATE_HOME/brivelton/ (default ~/.local/state/brivelton/), one file per
  adapter, readable by you only, and removes it once the update succeeded. If
  that file can't be written, the update stops before erasing. While the flash
  is erased and written, Ctrl-C (or SIGTERM, SIGHUP) does not cut it: the tool
  says so, finishes that attempt and stops (exit 0 with the success text if it
  succeeded, else 128 + the signal's number); a second Ctrl-C stops at once,
  saying where the address is saved and what to run. At any other time a signal
  stops it at once with 128 + the signal's number.

  identity prints, after the log, the address and the device name as the
  identity page holds them, such as
    address: 00:1B:DC:0F:21:7E
    name: Brivelton(B00)

  settings with NAME=VALUE or --defaults ends the dialog with OK holding those
  values: the changed ones are written, and the values printed after the log are
  those now on the adapter (none are printed when a write failed). With neither,
  settings only looks: the dialog ends like Cancel, the log ends with
     Set parameters cancelled
  and the values the dialog showed are printed after it. Giving a setting twice
  is bad usage.

  firmware prints three lines, such as 'version: 2.04 (0x204)', 'size: 512000
  bytes' and 'checksum: 2E 42 2E 45' (the bytes in the order the boot loader
  reports them), and 'saved: FILE' after --save. When the image is the build's
  placeholder, a 'note:' line after the version says so.
  ports prints one name a line; when the system's port list can't be read it
  says so on stderr and prints the fallback names the search would try.
  A /dev/serial/by-id name given to --port stays the same when the adapter is
  plugged in again; ports --long shows it.

After an update was cut short (killed, unplugged, the lid closed):
  run 'brivelton update' again. The adapter's identity page may now be blank
  (or carry only the start-up address 00:01:00:03:04:06); 'brivelton identity'
  shows what it holds. A saved address is written back on its own only when the
  entries that fit the adapter, those saved with its USB serial number or, when
  none is, those saved for its port, all hold that one address; the log says
  which and from where. When other saved addresses may be the adapter's, update
  asks on a terminal; with --yes or without one it erases nothing, names each
  with the --address line that writes it, and exits 4. When nothing is saved
  (another PC), the start-up address is written and the log says so; give the
  address from the adapter's label or the phone's list of paired devices:
  brivelton update --address 00:1B:DC:0F:21:7E.

Settings (NAME=VALUE):
    caller-id                   off|on
    echo-cancel                 off|on
    media-audio                 off|on
    dialtone-after-disconnect   off|on
    reverse-tip-ring            off|on
    strong-ringing              off|on
    led-debug                   off|on
    dial-plan                   with-timeout|without-timeout|hash-key
    offhook-power               low|medium|high|strong|strongest
    hook-speed                  30ms|50ms|70ms|100ms

Exit status:
  0  done as asked: check found the adapter (even when its version could not be
     read: the log says so), update verified the flash or, with --if-older,
     found nothing to do (said on stderr, even with -q), settings wrote the
     values or showed them, identity read the adapter's own address
  1  failed: the update was not verified after its attempts (the adapter needs
     another update), a setting could not be written, the port could not be
     opened again after Check Device, the identity page could not be read, or
     --save could not write its file
  2  bad usage: an unknown command, option, NAME or VALUE, a malformed
     --address, or --image without --image-version; nothing is probed
  3  no adapter found on the ports searched
  4  refused before any change: the firmware too old for settings, several saved
     addresses and none chosen, the address could not be saved before erasing,
     or an --image file that can't be read or is not 512000 bytes
  5  cancelled: the update warning answered No, no --yes without a terminal, or
     Cancel at the address question; nothing was erased
  6  identity found only the start-up address on the page, or none
  128 + N  stopped by signal N (130 for Ctrl-C)

Examples:
  brivelton check
  brivelton --port /dev/ttyUSB0 update --yes
  brivelton --port /dev/ttyUSB0 identity
  brivelton update --yes --address 00:1B:DC:0F:21:7E
  brivelton --port /dev/ttyUSB0 --port /dev/ttyACM0 check
  brivelton settings
  brivelton settings caller-id=off hook-speed=100ms offhook-power=high
  brivelton settings --defaults media-audio=on
  brivelton --verbose settings dial-plan=hash-key
  brivelton firmware --save image.bin
  brivelton --port /dev/ttyUSB0 update --image fw.bin --image-version 205
  brivelton ports --long
  BRIVELTON_PORT=/dev/ttyUSB0 brivelton -q update -y --if-older
  brivelton check --json
)help";

TEST(CliHelp, IsTheTextUsersKnow) { EXPECT_EQ(cli::HelpText(), kHelp); }

// `args` parsed into `o`; what is wrong with them, empty when nothing is.
std::string ParseInto(const std::vector<std::string>& args, Options& o) {
  auto parsed = cli::ParseArgs(args);
  if (!parsed) return parsed.error().text();
  o = std::move(*parsed);
  return {};
}

TEST(CliArgs, GlobalOptionsGoBeforeOrAfterTheCommandAndPortsKeepTheirOrder) {
  Options o;
  const std::vector<std::string> args = {"--port", "/dev/b", "--verbose", "update",
                                         "--port=/dev/a", "--yes", "--port", "/dev/b"};
  ASSERT_EQ(ParseInto(args, o), "");
  EXPECT_EQ(o.command, Command::kUpdate);
  EXPECT_EQ(o.ports, (std::vector<std::string>{"/dev/b", "/dev/a", "/dev/b"}));
  EXPECT_TRUE(o.verbose);
  EXPECT_TRUE(o.yes);

  // Either address form names the same bytes, in the page's order.
  for (const char* form : {"00:1B:dc:0F:21:7e", "001BDC0F217E"}) {
    const std::vector<std::string> with_address = {"update", "--address", form};
    ASSERT_EQ(ParseInto(with_address, o), "");
    EXPECT_EQ(o.address, (std::array<uint8_t, 6>{0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E})) << form;
  }

  const std::vector<std::string> plain = {"check"};
  ASSERT_EQ(ParseInto(plain, o), "");
  EXPECT_EQ(o.command, Command::kCheck);
  EXPECT_TRUE(o.ports.empty());
  EXPECT_FALSE(o.verbose || o.yes || o.defaults || o.address);
}

// The forms of getopt_long: bundled short switches, a value joined to its
// short option, "--name=value", and "--" ending the options; a value is
// taken whole whatever it reads like.
TEST(CliArgs, TakesTheOptionFormsOfGetoptLong) {
  struct Case {
    std::vector<std::string> args;
    Command command;
    std::vector<std::string> ports;
    bool quiet;
    bool yes;
    size_t assignments;
  };
  const Case cases[] = {
      {{"update", "-qy"}, Command::kUpdate, {}, true, true, 0},
      {{"-qp/dev/ttyUSB0", "update", "-y"}, Command::kUpdate, {"/dev/ttyUSB0"}, true, true, 0},
      {{"-p/dev/a", "-p", "/dev/b", "--port=/dev/c", "check"}, Command::kCheck,
       {"/dev/a", "/dev/b", "/dev/c"}, false, false, 0},
      {{"-p", "-q", "check"}, Command::kCheck, {"-q"}, false, false, 0},
      {{"--port", "--", "check"}, Command::kCheck, {"--"}, false, false, 0},
      {{"-q", "--", "check"}, Command::kCheck, {}, true, false, 0},
      {{"settings", "-q", "--", "caller-id=off"}, Command::kSettings, {}, true, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Options o;
    ASSERT_EQ(ParseInto(c.args, o), "");
    EXPECT_EQ(o.command, c.command);
    EXPECT_EQ(o.ports, c.ports);
    EXPECT_EQ(o.quiet, c.quiet);
    EXPECT_EQ(o.yes, c.yes);
    EXPECT_EQ(o.assignments.size(), c.assignments);
  }
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
    const std::vector<std::string> args = {"settings", c.arg};
    ASSERT_EQ(ParseInto(args, o), "");
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
  const std::vector<std::string> args = {"settings", "hook-speed=100ms", "--defaults",
                                         "caller-id=off"};
  ASSERT_EQ(ParseInto(args, o), "");
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
