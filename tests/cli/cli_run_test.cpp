// SPDX-License-Identifier: MIT
// The command line in-process on a simulated adapter, in virtual time: the
// dialogs as flags and prompts, exit statuses, and what reaches the adapter.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include <unistd.h>

#include "cli/cli_args.h"
#include "cli/exit_status.h"
#include "cli_harness.h"
#include "cli_logs.h"
#include "support/settings_help_text.h"
#include "link/frames.h"
#include "params/settings_data.h"
#include "support/memory_state_store.h"
#include "resources/dialog_templates.h"
#include "sim/virtual_adapter.h"
#include "resources/checksum.h"
#include "resources/firmware_image.h"
#include "update/identity_page.h"
#include "update/journal_entry.h"
#include "support/scratch_dir.h"

namespace brivelton::testing {
namespace {

using enum CommandKind;

namespace fs = std::filesystem;

constexpr const char* kPort = "/dev/ttyUSB0";

const std::vector<std::string> kNotFoundLog = {
    " Search Device ...", " Can't find device.", " COM port may be used by others.",
    " ", " Please check device connection.", " "};

const std::vector<std::string> kUpdateLog = {
    " ", " Start the programming: ", " Check Device ...", " Erase flash ..........", " Done",
    " Write flash ..........", " Done", " Verify flash ..........", " Done", " Reboot MCU ",
    " ", " Success ", " "};

std::vector<uint8_t> Bytes(std::span<const uint8_t> s) { return {s.begin(), s.end()}; }

class CliOnAdapter : public ::testing::Test {
 protected:
  sim::DeviceModel& Attach(sim::AdapterConfig config = {}) {
    adapter_ = std::make_unique<sim::VirtualAdapter>(h.virtual_ports, kPort, config);
    h.port_list.listing.entries.emplace_back(kPort);
    return adapter_->model();
  }
  sim::DeviceModel& model() { return adapter_->model(); }
  int FramesOf(CommandKind kind) {
    int n = 0;
    for (const auto& f : model().frames()) n += f.kind == kind;
    return n;
  }

  CliHarness h;
  std::unique_ptr<sim::VirtualAdapter> adapter_;
};

struct Answer {
  const char* name;
  bool yes;
  bool stdin_tty;
  std::string input;
  bool updates;
  bool prompts;
};

TEST(CliUpdate, RunsOnlyWhenTheWarningIsAnsweredOk) {
  const std::string prompt = WarningPrompt();
  const Answer answers[] = {
      {"y on a terminal", false, true, "y\n", true, true},
      {"yes, any case, spaces", false, true, "  YeS \n", true, true},
      {"n", false, true, "n\n", false, true},
      {"just Enter", false, true, "\n", false, true},
      {"end of input", false, true, "", false, true},
      {"something else", false, true, "ok\n", false, true},
      {"no terminal", false, false, "y\n", false, false},
      {"--yes without a terminal", true, false, "", true, false},
      {"--yes on a terminal", true, true, "n\n", true, false},
  };
  for (const auto& a : answers) {
    SCOPED_TRACE(a.name);
    CliHarness h;
    sim::VirtualAdapter adapter(h.virtual_ports, kPort);
    h.port_list.listing.entries.emplace_back(kPort);
    sim::DeviceModel& m = adapter.model();
    const std::vector<uint8_t> before = Bytes(m.flash());
    std::vector<std::string> args = {"update"};
    if (a.yes) args.push_back("--yes");
    const CliRun run = h.Run(args, a.input, a.stdin_tty, false);

    if (a.updates) {
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(Lines(run.out),
                Concat(Concat(CheckLog(kPort, 0x1FF), kUpdateLog), {ui::UpdateSucceededText()}));
      EXPECT_EQ(Bytes(m.flash()), sim::FlashAfterUpdate(m.config().bt_address));
      EXPECT_EQ(m.version(), BuiltInImage().version());
    } else {
      EXPECT_EQ(run.status, cli::kExitCancelled);
      EXPECT_EQ(Lines(run.out), Concat(CheckLog(kPort, 0x1FF), {" Firmware update cancelled"}));
      EXPECT_EQ(Bytes(m.flash()), before);
      EXPECT_EQ(m.mode(), sim::Mode::kFirmware);
    }
    if (a.prompts)
      EXPECT_EQ(run.err.substr(0, prompt.size()), prompt);
    else if (!a.yes)
      EXPECT_EQ(run.err,
                "brivelton: stdin is not a terminal, so nobody can answer the update warning; "
                "pass --yes to update\n");
    else  // --yes with stderr not a terminal: no warning, only the progress
      EXPECT_EQ(WithoutProgress(run.err), "");
  }
}

// What a terminal shows of `text`: '\r' goes back to the line's start and
// what follows overwrites it. The lines ended by '\n', then the one still open.
std::vector<std::string> Screen(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  size_t column = 0;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
      column = 0;
    } else if (c == '\r') {
      column = 0;
    } else {
      if (column < line.size()) line[column] = c;
      else line += c;
      ++column;
    }
  }
  lines.push_back(line);
  return lines;
}

TEST_F(CliOnAdapter, ProgressIsABarOnATerminalAndLinesElsewhere) {
  Attach();
  const CliRun lines = h.Run({"update", "--yes"}, "", false, false);
  ASSERT_EQ(lines.status, 0);
  // One line when a stage starts and at most one per tenth of it, in order.
  std::map<std::string, int> per_stage;
  std::vector<std::string> stages;
  for (const auto& line : Lines(lines.err)) {
    EXPECT_TRUE(IsProgressLine(line)) << line;
    const std::string stage = line.substr(0, line.find(' '));
    if (stages.empty() || stages.back() != stage) stages.push_back(stage);
    ++per_stage[stage];
    // Until the checksum matched.
    EXPECT_EQ(line.ends_with(". Do not unplug the adapter."), line != "Verifying 100% (1/1)")
        << line;
  }
  EXPECT_EQ(stages, (std::vector<std::string>{"Erasing", "Writing", "Verifying"}));
  for (const auto& [stage, count] : per_stage) EXPECT_LE(count, 11) << stage;
  EXPECT_NE(lines.err.find("Writing 100% (125/125)"), std::string::npos);

  CliHarness quiet_run;
  sim::VirtualAdapter quiet_adapter(quiet_run.virtual_ports, kPort);
  const CliRun quiet = quiet_run.Run({"--port", kPort, "-q", "update", "--yes"});
  ASSERT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");

  CliHarness tty;
  sim::VirtualAdapter adapter(tty.virtual_ports, kPort);
  const CliRun run = tty.Run({"--port", kPort, "update", "--yes"}, "", false, true);
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.out, lines.out);  // stdout never carries the progress
  // --yes on a terminal still shows the warning, answered.
  EXPECT_NE(run.err.find("Press \"OK\" to continue. [y/N] y (--yes)\n"), std::string::npos);
  // Carriage returns and spaces only: no escape sequence any console could
  // print raw.
  EXPECT_EQ(run.err.find('\033'), std::string::npos);
  const std::string full(30, '#');
  const std::string unplug = "  Do not unplug the adapter.";
  EXPECT_NE(run.err.find("\rErasing   [#" + std::string(29, '.') + "] 1/30" + unplug),
            std::string::npos);
  EXPECT_NE(run.err.find("\rErasing   [" + full + "] 30/30" + unplug), std::string::npos);
  EXPECT_NE(run.err.find("\rWriting   [" + full + "] 125/125" + unplug), std::string::npos);
  EXPECT_NE(run.err.find("\rVerifying [" + full + "] 1/1"), std::string::npos);
  // A finished bar is drawn once and goes with the next log line.
  for (const std::string& end :
       std::vector<std::string>{"] 30/30", "] 125/125", "Verifying [" + full + "] 1/1"}) {
    const size_t first = run.err.find(end);
    EXPECT_EQ(run.err.find(end, first + 1), std::string::npos) << end;
  }
  // Erase before write before verify.
  EXPECT_LT(run.err.find("Erasing"), run.err.find("Writing"));
  EXPECT_LT(run.err.rfind("Writing"), run.err.find("Verifying"));
  // What the terminal shows in the end: the warning, and no trace of a bar.
  const auto screen = Screen(run.err);
  ASSERT_FALSE(screen.empty());
  EXPECT_EQ(screen.back().find_first_not_of(' '), std::string::npos) << screen.back();
  EXPECT_EQ(screen[screen.size() - 2], "Press \"OK\" to continue. [y/N] y (--yes)");
}

TEST_F(CliOnAdapter, FailedUpdateExitsOneWithTheFailureText) {
  sim::AdapterConfig config;
  config.faults.ignore_kind[FlashErase] = 1'000'000;
  Attach(config);
  const CliRun run = h.Run({"update", "--yes"});
  EXPECT_EQ(run.status, 1);
  const auto lines = Lines(run.out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"         WARMING !!! FAILED !!!                       ",
                                      " Please re-install the device and try again.",
                                      ui::UpdateFailedText()}));
}

// A firmware file given at run time: a 512000-byte image other than the
// built-in one, written to a temporary directory.
class CliWithImageFile : public CliOnAdapter {
 protected:
  void SetUp() override {
    image_.resize(kFirmwareSize);
    for (size_t i = 0; i < image_.size(); ++i) image_[i] = static_cast<uint8_t>(i * 7 + i / 4096);
    Write("fw.bin", image_);
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return (dir_ / name).string();
  }
  std::string path(const std::string& name = "fw.bin") const { return (dir_ / name).string(); }

  ScratchDir scratch_{"brivelton_image"};
  const fs::path dir_ = scratch_.path();
  std::vector<uint8_t> image_;
};

TEST_F(CliWithImageFile, UpdateWritesTheFileAndTheAdapterReportsItsVersion) {
  sim::AdapterConfig config;
  config.image = image_;  // the adapter reports 2A5 once this is in its flash
  config.image_version = 0x2A5;
  Attach(config);
  const CliRun run =
      h.Run({"update", "--yes", "--image", path(), "--image-version", "2a5"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find(" Available Firmware for update = 2A5\n"), std::string::npos);
  EXPECT_EQ(Lines(run.out).back(), ui::UpdateSucceededText());
  // The file, then the adapter's own identity page; the checksum compare
  // passed against the file's checksum, not the built-in image's.
  std::vector<uint8_t> expected(1u << 20, 0xFF);
  std::copy(image_.begin(), image_.end(), expected.begin());
  const auto page = BuildIdentityPage(config.bt_address);
  std::copy(page.begin(), page.end(), expected.begin() + kIdentityPageAddress);
  EXPECT_EQ(Bytes(model().flash()), expected);
  EXPECT_EQ(model().version(), 0x2A5u);

  // Check Device now finds the adapter up to date with that image.
  const CliRun check = h.Run({"check"});
  EXPECT_NE(check.out.find(" Device Firmware Version = 2A5\n"), std::string::npos) << check.out;
}

TEST_F(CliWithImageFile, FirmwareShowsAndSavesTheFile) {
  const CliRun run = h.Run({"firmware", "--image", path(), "--image-version", "0x2A5", "--save",
                            path("copy.bin")});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto sum = FlashChecksumOf(image_);
  char expected[160];
  std::snprintf(expected, sizeof expected,
                "version: 2.A5 (0x2A5)\nsize: 512000 bytes\nchecksum: %02X %02X %02X %02X\n"
                "saved: %s\n",
                sum[0], sum[1], sum[2], sum[3], path("copy.bin").c_str());
  EXPECT_EQ(run.out, expected);
  std::ifstream copy(path("copy.bin"), std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(copy), {}), image_);
}

// A file that is not an image stops the command before any port is touched.
TEST_F(CliWithImageFile, ABadFileIsRefusedUntouched) {
  Attach();
  Write("short.bin", std::vector<uint8_t>(kFirmwareSize - 1));
  Write("long.bin", std::vector<uint8_t>(kFirmwareSize + 4096));
  Write("empty.bin", {});
  struct Case {
    std::string file;
    std::string error;
  };
  const Case cases[] = {
      {path("missing.bin"),
       "can't read the firmware image " + path("missing.bin") + ": No such file or directory"},
      {dir_.string(), "can't read the firmware image " + dir_.string() + ": Is a directory"},
      {"/dev/null", "can't read the firmware image /dev/null: not a regular file"},
      {path("short.bin"), "the firmware image " + path("short.bin") +
                              " holds 511999 bytes; it must hold exactly 512000 bytes (125 "
                              "pages of 4096)"},
      {path("long.bin"), "the firmware image " + path("long.bin") +
                             " holds more than 512000 bytes; it must hold exactly 512000 bytes "
                             "(125 pages of 4096)"},
      {path("empty.bin"), "the firmware image " + path("empty.bin") +
                              " holds 0 bytes; it must hold exactly 512000 bytes (125 pages of "
                              "4096)"},
  };
  const std::vector<uint8_t> before = Bytes(model().flash());
  for (const auto& c : cases) {
    for (const char* command : {"update", "firmware"}) {
      SCOPED_TRACE(std::string(command) + " " + c.file);
      const CliRun shown = h.Run({command, "--image", c.file, "--image-version", "205"});
      EXPECT_EQ(shown.status, cli::kExitRefused);
      EXPECT_EQ(shown.out, "");
      EXPECT_EQ(shown.err, "brivelton: " + c.error + "\n");
    }
  }
  EXPECT_TRUE(h.Untouched());
  EXPECT_EQ(Bytes(model().flash()), before);
}

TEST_F(CliOnAdapter, NoAdapterExitsThreeWithoutAskingOrReadingSettings) {
  for (const char* command : {"check", "update", "settings"}) {
    SCOPED_TRACE(command);
    CliHarness none;
    none.port_list.listing.entries.emplace_back(kPort);  // listed, but nothing there
    const CliRun run = none.Run({command}, "y\n", true, true);
    EXPECT_EQ(run.status, cli::kExitNoAdapter);
    EXPECT_EQ(Lines(run.out), kNotFoundLog);
    EXPECT_EQ(run.err, "brivelton: /dev/ttyUSB0: no such device\n");
  }
}

TEST_F(CliOnAdapter, CheckExitsZeroWhenFoundAndLeavesTheAdapterAlone) {
  auto& m = Attach();
  const std::vector<uint8_t> before = Bytes(m.flash());
  const CliRun run = h.Run({"check"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Lines(run.out), CheckLog(kPort, 0x1FF));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Bytes(m.flash()), before);
  EXPECT_EQ(FramesOf(ParamRead) + FramesOf(ParamWrite) + FramesOf(BootHandshake), 0);
}

TEST_F(CliOnAdapter, PortOptionReplacesTheSystemList) {
  // The system lists only a port with nothing behind it; --port names the adapter.
  sim::VirtualAdapter adapter(h.virtual_ports, "/dev/rfcomm0");
  h.virtual_ports.AddPort("/dev/ttyS0", nullptr);
  h.port_list.listing.entries.emplace_back("/dev/ttyS0");
  const CliRun run = h.Run({"--port", "/dev/missing", "--port", "/dev/rfcomm0", "check"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Lines(run.out), CheckLog("/dev/rfcomm0", 0x1FF));
  EXPECT_EQ(h.port_list.lists, 0);
  ASSERT_GE(h.ports.opened.size(), 2u);
  EXPECT_EQ(h.ports.opened[0], "/dev/missing");
  EXPECT_EQ(h.ports.opened[1], "/dev/rfcomm0");
}

sim::AdapterConfig Current() {
  sim::AdapterConfig config;
  config.version = BuiltInImage().version();
  return config;
}

TEST_F(CliOnAdapter, SettingsWithoutChangesPrintsWhatTheDialogShowedAfterTheCancelLine) {
  sim::AdapterConfig config = Current();
  config.params = {{1, 0}, {2, 1}, {3, 1}, {4, 10}, {5, 150},
                   {6, 1}, {7, 0}, {8, 2}, {9, 1}, {10, 1}};
  auto& m = Attach(config);
  const CliRun run = h.Run({"settings"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Lines(run.out),
            Concat(CheckLog(kPort, BuiltInImage().version()),
                   {" Set parameters cancelled", "caller-id=off", "echo-cancel=on",
                    "media-audio=on", "dialtone-after-disconnect=on", "reverse-tip-ring=off",
                    "strong-ringing=on", "led-debug=on", "dial-plan=hash-key",
                    "offhook-power=high", "hook-speed=100ms"}));
  EXPECT_EQ(FramesOf(ParamRead), 10);
  EXPECT_EQ(FramesOf(ParamWrite), 0);
  for (const auto& [op, raw] : config.params) EXPECT_EQ(m.param(op), raw) << op;
}

TEST_F(CliOnAdapter, SettingsAssignmentsWriteTheChangesAndPrintTheNewValues) {
  auto& m = Attach(Current());
  const CliRun run = h.Run({"settings", "caller-id=off", "hook-speed=100ms",
                            "offhook-power=high", "echo-cancel=on", "media-audio=on"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Lines(run.out),
            Concat(CheckLog(kPort, BuiltInImage().version()),
                   {"", " Change Media Audio setting.", " Need to reset the device to take effect.",
                    "", " Set parameters successfully", "caller-id=off", "echo-cancel=on",
                    "media-audio=on", "dialtone-after-disconnect=off", "reverse-tip-ring=on",
                    "strong-ringing=off", "led-debug=off", "dial-plan=with-timeout",
                    "offhook-power=high", "hook-speed=100ms"}));
  // Echo cancel was on already: only the four changes are written.
  EXPECT_EQ(FramesOf(ParamWrite), 4);
  EXPECT_EQ(m.param(1), 0u);
  EXPECT_EQ(m.param(3), 1u);
  EXPECT_EQ(m.param(10), 1u);
  // Read back, the adapter shows what was printed.
  const auto now = Lines(run.out);
  const auto again = Lines(h.Run({"settings"}).out);
  ASSERT_GE(again.size(), 10u);
  EXPECT_EQ(std::vector<std::string>(again.end() - 10, again.end()),
            std::vector<std::string>(now.end() - 10, now.end()));
}

TEST_F(CliOnAdapter, SettingsDefaultsRestoreTheDialogDefaults) {
  sim::AdapterConfig config = Current();
  config.params = {{1, 0}, {2, 1}, {3, 0}, {4, 3}, {5, 80},
                   {6, 1}, {7, 0}, {8, 1}, {9, 1}, {10, 0}};
  Attach(config);
  const CliRun run = h.Run({"settings", "--defaults", "led-debug=on"});
  EXPECT_EQ(run.status, 0);
  SettingsValues expected = DefaultSettings();
  expected.m_led_display = 1;
  const auto lines = Lines(run.out);
  const auto printed = cli::FormatSettings(expected);
  ASSERT_GE(lines.size(), printed.size() + 1);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 11, lines.end()),
            Concat({" Set parameters successfully"}, printed));
  const auto again = Lines(h.Run({"settings"}).out);
  ASSERT_GE(again.size(), 10u);
  EXPECT_EQ(std::vector<std::string>(again.end() - 10, again.end()), printed);
}

// The refusal itself is the procedure's (its lines, the versions, the port
// left alone); here: every form of the command exits 4 (refused before any
// change) and prints nothing after the refusal, and no parameter frame goes out.
TEST_F(CliOnAdapter, SettingsRefusedOnOldFirmwareExitsFour) {
  Attach();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"settings"}, {"settings", "caller-id=off"},
        {"settings", "--defaults"}}) {
    const CliRun run = h.Run(args);
    EXPECT_EQ(run.status, cli::kExitRefused);
    EXPECT_EQ(Lines(run.out),
              Concat(CheckLog(kPort, 0x1FF),
                     {" ", " Device version = 1FF", " Setting is not supported in this version.",
                      " Please update the firmware first.", " "}));
  }
  EXPECT_EQ(FramesOf(ParamRead) + FramesOf(ParamWrite), 0);
}

TEST_F(CliOnAdapter, SettingsWriteFailureExitsOneWithoutValues) {
  sim::AdapterConfig config = Current();
  config.faults.ignore_kind[ParamWrite] = 1'000'000;
  Attach(config);
  const CliRun run = h.Run({"settings", "strong-ringing=on"});
  EXPECT_EQ(run.status, 1);
  const auto lines = Lines(run.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
            (std::vector<std::string>{" ERROR !!!", " Set parameters failed"}));
}

TEST_F(CliOnAdapter, VerboseShowsTracesOnStderrOnly) {
  Attach(Current());
  const CliRun quiet = h.Run({"settings", "--defaults", "caller-id=off"});
  ASSERT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");

  const CliRun loud = h.Run({"--verbose", "settings", "--defaults", "caller-id=off"});
  ASSERT_EQ(loud.status, 0);
  EXPECT_EQ(loud.out, quiet.out);
  for (const char* trace : {" Set default\n", " m_callerid\t\t= 0\n", " m_aec\t\t\t= 1\n",
                            " m_hook_speed_index\t= 2\n"})
    EXPECT_NE(loud.err.find(trace), std::string::npos) << trace;
  EXPECT_LT(loud.err.find(" Set default\n"), loud.err.find(" m_a2dp\t\t\t= 0\n"));
  // The sink goes with the command.
  const CliRun after = h.Run({"check"});
  EXPECT_EQ(after.err, "");
}

TEST(CliPorts, ListsTheGivenNamesOrTheSystemsOrTheFallback) {
  {
    CliHarness h;
    h.port_list.listing.entries = {std::string("/dev/ttyS0")};
    const CliRun run = h.Run({"--port", "/dev/b", "ports", "--port", "/dev/a"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "/dev/b\n/dev/a\n");
    EXPECT_EQ(h.port_list.lists, 0);
  }
  {
    CliHarness h;
    h.port_list.listing.entries = {std::string("/dev/ttyACM0"), std::nullopt,
                                   std::string("/dev/ttyUSB1")};
    const CliRun run = h.Run({"ports"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "/dev/ttyACM0\n/dev/ttyUSB1\n");
    EXPECT_EQ(run.err, "");
  }
  for (auto status : {PortListing::Status::kCantOpen, PortListing::Status::kCantQuery}) {
    CliHarness h;
    h.port_list.listing.status = status;
    h.port_list.fallback = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
    const CliRun run = h.Run({"ports"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "/dev/ttyUSB0\n/dev/ttyUSB1\n");
    EXPECT_EQ(run.err, std::string("brivelton: the system's list of serial ports can't be ") +
                           (status == PortListing::Status::kCantOpen ? "opened" : "queried") +
                           "; the search falls back to these names\n");
  }
  {
    CliHarness h;
    const CliRun run = h.Run({"ports"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "brivelton: the system lists no serial ports; the search would stop at once\n");
  }
}

// With --long each name keeps the first column; what the system knows of the
// port follows it, tab-separated, wherever the names came from.
TEST(CliPorts, LongAddsWhatTheSystemKnowsAfterEachName) {
  const std::vector<PortDetail> ftdi = {{"driver", "ftdi_sio"},
                                        {"usb", "0403:6001"},
                                        {"product", "FT232R USB UART"},
                                        {"by-id", "/dev/serial/by-id/usb-FTDI-if00-port0"}};
  const std::string ftdi_line =
      "/dev/ttyUSB0\tdriver=ftdi_sio\tusb=0403:6001\tproduct=FT232R USB UART"
      "\tby-id=/dev/serial/by-id/usb-FTDI-if00-port0\n";
  struct Case {
    std::vector<std::string> args;
    PortListing::Status status;
    std::string out;
  };
  const Case cases[] = {
      {{"ports", "--long"}, PortListing::Status::kOk, "/dev/ttyS0\tdriver=serial\n" + ftdi_line},
      {{"--port", "/dev/ttyUSB0", "ports", "--long", "--port", "/tmp/link"},
       PortListing::Status::kOk, ftdi_line + "/tmp/link\n"},
      {{"ports", "--long"}, PortListing::Status::kCantOpen, ftdi_line + "/dev/ttyUSB1\n"},
      {{"ports"}, PortListing::Status::kOk, "/dev/ttyS0\n/dev/ttyUSB0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    CliHarness h;
    h.port_list.listing.status = c.status;
    h.port_list.listing.entries = {std::string("/dev/ttyS0"), std::string("/dev/ttyUSB0")};
    h.port_list.fallback = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
    h.port_list.details["/dev/ttyUSB0"] = ftdi;
    h.port_list.details["/dev/ttyS0"] = {{"driver", "serial"}};
    const CliRun run = h.Run(c.args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, c.out);
    EXPECT_TRUE(h.ports.opened.empty());
  }
}

TEST(CliFirmware, ShowsVersionSizeChecksumAndSavesTheImage) {
  const auto image = BuiltInImage().bytes();
  // The checksum as the boot loader computes it, not as the image says.
  const auto sum = FlashChecksumOf(image);
  EXPECT_TRUE(std::equal(sum.begin(), sum.end(), BuiltInImage().checksum().begin()));
  const std::string expected = FirmwareDescription();
  CliHarness h;
  EXPECT_EQ(h.Run({"firmware"}).out, expected);

  const ScratchDir scratch("brivelton_cli_image");
  const auto path = scratch.path() / "image.bin";
  const CliRun saved = h.Run({"firmware", "--save", path.string()});
  EXPECT_EQ(saved.status, 0);
  EXPECT_EQ(saved.out, std::string(expected) + "saved: " + path.string() + "\n");
  std::ifstream file(path, std::ios::binary);
  const std::vector<uint8_t> written((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
  EXPECT_EQ(written, Bytes(image));

  const CliRun failed = h.Run({"firmware", "--save=/nonexistent-dir/image.bin"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err.rfind("brivelton: can't write /nonexistent-dir/image.bin: ", 0), 0u);
  EXPECT_TRUE(h.Untouched());
}

TEST(CliSettingsHelp, PrintsTheFortyOneLines) {
  CliHarness h;
  const CliRun run = h.Run({"settings-help"});
  EXPECT_EQ(run.status, 0);
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 41u);
  EXPECT_EQ(lines, kSettingsHelpText);
  EXPECT_TRUE(h.Untouched());
}

// `identity` on a blank page names what the journal holds, and which entry
// `update` would take, as `update` decides it.
TEST_F(CliOnAdapter, IdentityOnABlankPageNamesTheSavedEntries) {
  const std::string give =
      "brivelton: give the adapter's address (its label, or the phone's list of paired devices) "
      "with brivelton update --address\n";
  struct Saved {
    std::string port;
    std::array<uint8_t, 6> address;
    std::string saved = "t";
  };
  struct Case {
    const char* name;
    std::vector<Saved> saved;
    std::string err;  // after "the identity page carries no Bluetooth address"
  };
  const Case cases[] = {
      {"nothing saved", {}, give},
      {"this port's entry",
       {{kPort, {0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E}}},
       "brivelton: /state/identity-001BDC0F217E keeps the address 00:1B:DC:0F:21:7E for "
       "/dev/ttyUSB0 (saved t); brivelton update uses it\n"},
      {"two adapters' entries on this port, one with control characters",
       {{kPort, {0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E}},
        {kPort, {0x00, 0xAA, 0xBB, 0x11, 0x22, 0x33}, "t\x1b[2J\x07"}},
       "brivelton: /state/identity-001BDC0F217E keeps the address 00:1B:DC:0F:21:7E for "
       "/dev/ttyUSB0 (saved t)\n"
       "brivelton: /state/identity-00AABB112233 keeps the address 00:AA:BB:11:22:33 for "
       "/dev/ttyUSB0 (saved t?[2J?)\n" +
           give},
      {"an entry saved from another port", {{"/dev/ttyUSB1", {0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E}}},
       "brivelton: /state/identity-001BDC0F217E keeps the address 00:1B:DC:0F:21:7E for "
       "/dev/ttyUSB1 (saved t)\n" +
           give},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CliHarness harness;
    MemoryStateStore store;
    harness.platform.state = &store;
    for (const auto& e : c.saved)
      store.files[JournalFileName(e.address)] = FormatJournalEntry({e.port, e.address, "", e.saved});
    sim::AdapterConfig config;
    config.blank_identity = true;
    sim::VirtualAdapter adapter(harness.virtual_ports, kPort, config);
    harness.port_list.listing.entries.emplace_back(kPort);
    const CliRun run = harness.Run({"identity"});
    EXPECT_EQ(run.status, cli::kExitStartUpAddress);
    EXPECT_EQ(run.err, "brivelton: the identity page carries no Bluetooth address\n" + c.err);
    EXPECT_EQ(store.files.size(), c.saved.size());
  }
}

// A blank page and two saved addresses that may be this adapter's: on a
// terminal the tool asks before anything is erased; with --yes, or without a
// terminal, it erases nothing and names each with the line that writes it.
TEST(CliAddressQuestion, SeveralSavedAddressesAreAskedForOrRefused) {
  const BtAddressBytes x = {0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E};
  const BtAddressBytes y = {0x00, 0xAA, 0xBB, 0x11, 0x22, 0x33};
  const BtAddressBytes blank = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool tty;
    std::string input;
    int status;
    BtAddressBytes written;  // page address after the run
    const char* err_part;
  };
  const Case cases[] = {
      {"the second candidate", {"update"}, true, "y\n2\n", 0, y, "  2) 00:AA:BB:11:22:33  saved for"},
      {"a typed address after two wrong answers", {"update"}, true,
       "y\n7\n000000000000\n0011223344AA\n", 0, {0x00, 0x11, 0x22, 0x33, 0x44, 0xAA},
       "brivelton: all zeros is no adapter's address\n"},
      {"the start-up address, chosen", {"update"}, true, "y\ns\n", 0, kDefaultBtAddress,
       "s to write the start-up address 00:01:00:03:04:06"},
      {"Enter cancels", {"update"}, true, "y\n\n", cli::kExitCancelled, blank, "Enter cancels: "},
      {"--yes on a terminal refuses", {"update", "--yes"}, true, "", 4, blank,
       "  brivelton update --address 00:AA:BB:11:22:33   (saved for /dev/ttyUSB0 at t)\n"},
      {"no terminal refuses", {"update", "--yes"}, false, "", 4, blank,
       "  brivelton update --address 00:1B:DC:0F:21:7E   (saved for /dev/ttyUSB0 at t)\n"},
      {"--start-up-address asks nothing", {"update", "--yes", "--start-up-address"}, false, "", 0,
       kDefaultBtAddress, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CliHarness harness;
    MemoryStateStore store;
    harness.platform.state = &store;
    for (const auto& address : {x, y})
      store.files[JournalFileName(address)] = FormatJournalEntry({kPort, address, "", "t"});
    sim::AdapterConfig config;
    config.blank_identity = true;
    sim::VirtualAdapter adapter(harness.virtual_ports, kPort, config);
    harness.port_list.listing.entries.emplace_back(kPort);
    const CliRun run = harness.Run(c.args, c.input, c.tty);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_NE(run.err.find(c.err_part), std::string::npos) << run.err;
    const auto flash = adapter.model().flash();
    EXPECT_TRUE(std::equal(c.written.begin(), c.written.end(), flash.begin() + kIdentityPageAddress))
        << run.out;
    int erases = 0;
    for (const auto& f : adapter.model().frames()) erases += f.kind == CommandKind::FlashErase;
    EXPECT_EQ(erases > 0, c.status == 0);
    // A refusal claims nothing: no result text after the log.
    if (c.status == 4) {
      EXPECT_EQ(run.out.find(ui::UpdateFailedText()), std::string::npos);
      EXPECT_EQ(run.out.find(ui::UpdateSucceededText()), std::string::npos);
      EXPECT_EQ(store.files.size(), 2u);
    }
  }
}

}  // namespace
}  // namespace brivelton::testing
