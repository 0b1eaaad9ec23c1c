// SPDX-License-Identifier: MIT
// The built `brivelton` against `brivelton-sim` on a pseudo-terminal, through
// the real POSIX serial backend: exact stdout and exit status per command,
// then the simulator's flash and parameters as it dumps them at exit.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "link/link_state.h"
#include "params/settings_data.h"
#include "resources/dialog_templates.h"
#include "resources/checksum.h"
#include "resources/firmware_image.h"
#include "sim/device_model.h"
#include "sim/sim_options.h"
#include "sim/virtual_adapter.h"
#include "support/sim_process.h"
#include "update/identity_page.h"
#include "update/journal_entry.h"
#include "support/file_snapshot.h"
#include "support/scratch_dir.h"
#include "cli/cli_logs.h"
#include "cli/exit_status.h"
#include "support/settings_help_text.h"

namespace brivelton::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTool = BRIVELTON_CLI_PATH;
constexpr std::array<uint8_t, 6> kSimAddress = {0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E};
const std::map<int, uint32_t> kSimParams = {{1, 1}, {2, 0}, {3, 1}, {4, 7},  {5, 190},
                                            {6, 0}, {7, 1}, {8, 0}, {9, 0}, {10, 0}};

std::string Text(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::map<int, uint32_t> ReadParams(const fs::path& path) {
  std::map<int, uint32_t> params;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    params[std::stoi(line.substr(0, eq))] = static_cast<uint32_t>(std::stoul(line.substr(eq + 1)));
  }
  return params;
}

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Where the tool's stdout goes: a pipe read to the end, a pipe nobody reads
// at all, or a device where every write fails for want of room.
enum class Stdout { kRead, kReaderGone, kFull };

// Runs the tool to its end, reading its pipes as they fill.
// `watch` sees the output so far after each read, and the tool's pid.
using Watch = std::function<void(pid_t, const ToolRun&)>;
// `shell`, when given, runs in a shell just before the tool replaces it (as
// in "exec 2>&-;" or "trap '' HUP;"), keeping its process id.
ToolRun RunTool(const std::vector<std::string>& args, Stdout out = Stdout::kRead,
                const Watch& watch = nullptr, const std::string& shell = "") {
  std::vector<std::string> argv = {kTool};
  if (!shell.empty()) argv = {"/bin/sh", "-c", shell + " exec \"$0\" \"$@\"", kTool};
  argv.insert(argv.end(), args.begin(), args.end());
  int out_fd = -1, err_fd = -1;
  ToolRun run;
  const pid_t pid =
      SpawnPiped(argv, out_fd, err_fd, false, out == Stdout::kFull ? "/dev/full" : nullptr);
  if (pid < 0) return run;
  int open_fds = 2;
  if (out != Stdout::kRead) {
    if (out_fd >= 0) close(out_fd);
    out_fd = -1;
    --open_fds;
  }
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  while (open_fds > 0 && std::chrono::steady_clock::now() < deadline) {
    if (poll(fds, 2, 1000) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
        if (watch) watch(pid, run);
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  if (open_fds > 0) kill(pid, SIGKILL);
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  run.status = WaitStatus(pid);
  return run;
}

// The simulated adapter of one test, in a directory of its own. Neither the
// device nor the line takes time unless a test asks for it in `extra`, which
// comes last and so wins: these tests are about bytes, not timing.
class SimAdapter {
 public:
  SimAdapter(const fs::path& dir, const std::string& version,
             const std::vector<std::string>& extra = {})
      : dir_(dir),
        args_(Args(version, extra)),
        sim_(args_) {
    ready_ = !sim_.Line(20'000).empty();
  }

  bool ready() const { return ready_; }
  std::string link() const { return (dir_ / "adapter").string(); }
  int Stop() { return sim_.Stop(); }
  std::vector<uint8_t> flash() const { return ReadFile(dir_ / "flash.bin"); }
  std::map<int, uint32_t> params() const { return ReadParams(dir_ / "params.txt"); }

  // Its flash before anybody talked to it: the same options, read in-process.
  std::vector<uint8_t> StartingFlash() const {
    sim::SimOptions options;
    std::string error;
    EXPECT_TRUE(sim::ParseSimOptions(args_, options, error)) << error;
    const sim::DeviceModel model(options.config);
    return {model.flash().begin(), model.flash().end()};
  }

 private:
  std::vector<std::string> Args(const std::string& version,
                                const std::vector<std::string>& extra) const {
    std::vector<std::string> args = {"--version", version, "--time-scale", "0",
                                     "--wire-scale", "0", "--link", link(),
                                     "--dump-flash", (dir_ / "flash.bin").string(),
                                     "--dump-params", (dir_ / "params.txt").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  fs::path dir_;
  std::vector<std::string> args_;
  SimProcess sim_;
  bool ready_ = false;
};

class CliEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // The tool keeps the address of an update in progress here, not in the
    // home directory of whoever runs the tests.
    setenv("XDG_STATE_HOME", (dir_ / "state").c_str(), 1);
  }
  fs::path StateDir() const { return dir_ / "state" / "brivelton"; }
  std::vector<std::string> StateFiles() const {
    std::vector<std::string> names;
    if (fs::exists(StateDir()))
      for (const auto& entry : fs::directory_iterator(StateDir()))
        names.push_back(entry.path().filename().string());
    return names;
  }
  ScratchDir scratch_{"brivelton_cli_e2e"};
  const fs::path dir_ = scratch_.path();
};

TEST_F(CliEndToEnd, CheckReadsTheVersionAndChangesNothing) {
  SimAdapter sim(dir_, "1FF");
  ASSERT_TRUE(sim.ready());
  const auto untouched = sim.StartingFlash();
  const ToolRun run = RunTool({"--port", sim.link(), "check"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Text(CheckLog(sim.link(), 0x1FF)));
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.flash(), untouched);
  EXPECT_EQ(sim.params(), kSimParams);
}

std::vector<uint8_t> UpdatedFlash(const BtAddressBytes& address) {
  return sim::FlashAfterUpdate(address);
}
std::vector<uint8_t> UpdatedFlash() { return UpdatedFlash(kSimAddress); }

// The one update over a line at its real speed, as with an adapter.
TEST_F(CliEndToEnd, UpdateWritesTheBuiltInImageAndTheIdentityPage) {
  SimAdapter sim(dir_, "1FF", {"--wire-scale", "1"});
  ASSERT_TRUE(sim.ready());
  const ToolRun run = RunTool({"--port", sim.link(), "update", "--yes"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            Text(Concat(CheckLog(sim.link(), 0x1FF),
                        {" ", " Start the programming: ", " Check Device ...",
                         " Erase flash ..........", " Done", " Write flash ..........", " Done",
                         " Verify flash ..........", " Done", " Reboot MCU ", " ", " Success ",
                         " ", ui::UpdateSucceededText()})));
  // Not a terminal: no bar, a line per stage and tenth.
  EXPECT_NE(run.err.find("Writing 50% (63/125). Do not unplug the adapter.\n"),
            std::string::npos);
  EXPECT_EQ(WithoutProgress(run.err), "");

  // The adapter now runs the new firmware.
  const ToolRun check = RunTool({"--port", sim.link(), "check"});
  EXPECT_EQ(check.out, Text(CheckLog(sim.link(), BuiltInImage().version())));

  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.flash() == UpdatedFlash());
  EXPECT_EQ(sim.params(), kSimParams);
}

// A pipe reader that quits early must not stop the update halfway through
// the flash: the tool loses its log and finishes the job.
TEST_F(CliEndToEnd, UpdateFinishesWhenNobodyReadsTheLog) {
  SimAdapter sim(dir_, "1FF");
  ASSERT_TRUE(sim.ready());
  const ToolRun run = RunTool({"--port", sim.link(), "update", "--yes"}, Stdout::kReaderGone);
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.flash() == UpdatedFlash());
}

TEST_F(CliEndToEnd, UpdateWithoutATerminalOrYesIsCancelled) {
  SimAdapter sim(dir_, "1FF");
  ASSERT_TRUE(sim.ready());
  const auto untouched = sim.StartingFlash();
  const ToolRun run = RunTool({"--port", sim.link(), "update"});
  EXPECT_EQ(run.status, cli::kExitCancelled);
  EXPECT_EQ(run.out, Text(Concat(CheckLog(sim.link(), 0x1FF), {" Firmware update cancelled"})));
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.flash(), untouched);
}

TEST_F(CliEndToEnd, SettingsWritesTheAssignmentsAndPrintsTheNewValues) {
  SimAdapter sim(dir_, Hex3(BuiltInImage().version()));
  ASSERT_TRUE(sim.ready());
  const ToolRun run = RunTool({"--port", sim.link(), "settings", "caller-id=off",
                               "hook-speed=100ms", "offhook-power=high", "media-audio=on"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            Text(Concat(CheckLog(sim.link(), BuiltInImage().version()),
                        {"", " Change Media Audio setting.",
                         " Need to reset the device to take effect.", "",
                         " Set parameters successfully", "caller-id=off", "echo-cancel=on",
                         "media-audio=on", "dialtone-after-disconnect=off",
                         "reverse-tip-ring=on", "strong-ringing=off", "led-debug=off",
                         "dial-plan=with-timeout", "offhook-power=high", "hook-speed=100ms"})));
  ASSERT_EQ(sim.Stop(), 0);
  auto expected = kSimParams;
  expected[1] = 0;
  expected[4] = 10;
  expected[5] = 150;
  expected[10] = 1;
  EXPECT_EQ(sim.params(), expected);
}

TEST_F(CliEndToEnd, SettingsViewPrintsTheValuesAndWritesNothing) {
  SimAdapter sim(dir_, Hex3(BuiltInImage().version()));
  ASSERT_TRUE(sim.ready());
  const ToolRun run = RunTool({"settings", "--port", sim.link()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            Text(Concat(CheckLog(sim.link(), BuiltInImage().version()),
                        {" Set parameters cancelled", "caller-id=on", "echo-cancel=on",
                         "media-audio=off", "dialtone-after-disconnect=off",
                         "reverse-tip-ring=on", "strong-ringing=off", "led-debug=off",
                         "dial-plan=with-timeout", "offhook-power=medium", "hook-speed=70ms"})));
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.params(), kSimParams);
}

TEST_F(CliEndToEnd, SettingsHelpPrintsTheHelpList) {
  const ToolRun run = RunTool({"settings-help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Text(kSettingsHelpText));
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 41);
}

TEST_F(CliEndToEnd, FirmwareDescribesAndSavesTheBuiltInImage) {
  const auto image = BuiltInImage().bytes();
  const std::string expected = FirmwareDescription();
  const std::string path = (dir_ / "image.bin").string();
  const ToolRun run = RunTool({"firmware", "--save", path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(expected) + "saved: " + path + "\n");
  EXPECT_EQ(ReadFile(path), std::vector<uint8_t>(image.begin(), image.end()));
}

TEST_F(CliEndToEnd, PortsListsTheGivenNamesInOrder) {
  const ToolRun run = RunTool({"--port", "/dev/ttyUSB3", "--port", "/dev/ttyACM0", "ports"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "/dev/ttyUSB3\n/dev/ttyACM0\n");
  EXPECT_EQ(run.err, "");
  // Without --port the system's list: one name a line, or a note on stderr.
  const ToolRun system = RunTool({"ports"});
  EXPECT_EQ(system.status, 0);
  EXPECT_TRUE(!system.out.empty() || !system.err.empty());
  for (const auto& line : [&] {
         std::vector<std::string> v;
         std::istringstream s(system.out);
         for (std::string l; std::getline(s, l);) v.push_back(l);
         return v;
       }())
    EXPECT_EQ(line.rfind("/dev/", 0), 0u) << line;
}

// Whether anything opened `path` since the watch began.
class OpenWatch {
 public:
  explicit OpenWatch(const std::string& path) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(fd_, path.c_str(), IN_OPEN);
  }
  ~OpenWatch() { close(fd_); }
  bool opened() {
    alignas(inotify_event) char buffer[4096];
    bool any = false;
    while (read(fd_, buffer, sizeof buffer) > 0) any = true;
    return any;
  }

 private:
  int fd_;
};

TEST_F(CliEndToEnd, BadUsageExitsTwoWithoutOpeningThePort) {
  const std::string port = (dir_ / "port").string();
  std::ofstream(port).put('\n');
  OpenWatch watch(port);
  ASSERT_FALSE(watch.opened());
  const std::vector<std::vector<std::string>> bad = {
      {"frobnicate"},
      {"check", "--yes"},
      {"update", "--force"},
      {"settings", "caller-id=maybe"},
      {"settings", "caller-id=off", "volume=11"},
      {"settings", "hook-speed"},
      {"--bogus", "check"},
      {"firmware", "--save"},
      // No adapter has these: written, they would be for good.
      {"update", "--yes", "--address", "000000000000"},
      {"update", "--yes", "--address", "FF:FF:FF:FF:FF:FF"},
      {"update", "--yes", "--address", "000100030406"},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ToolRun run = RunTool(Concat({"--port", port}, args));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("brivelton: ", 0), 0u);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_FALSE(watch.opened());
  }
  // The watch does see the tool open the port when the usage is good.
  const ToolRun good = RunTool({"--port", port, "check"});
  EXPECT_EQ(good.status, cli::kExitNoAdapter);
  EXPECT_TRUE(watch.opened());
}

// Sends `signo` to the tool once its stdout holds `marker`, `delay_ms` later;
// and a second signal, if asked, once its stderr says the first was held.
// At " Write flash" the erase is done and the pages are about to go out.
Watch SignalAt(const std::string& marker, int signo, int delay_ms = 0, int second = 0) {
  return [=, sent = false, resent = false](pid_t pid, const ToolRun& run) mutable {
    if (!sent && run.out.find(marker) != std::string::npos) {
      usleep(static_cast<useconds_t>(delay_ms) * 1000);
      kill(pid, signo);
      sent = true;
    }
    if (sent && second && !resent && run.err.find("stopping once") != std::string::npos) {
      kill(pid, second);
      resent = true;
    }
  };
}

const std::string kWriting = " Write flash ..........\n";
// The pages take about 1.3 s on this line: a signal sent on the line above
// lands among them even on a loaded machine.
const std::vector<std::string> kLineForSignals = {"--wire-scale", "0.25"};
const std::string kHeldNote =
    "\nbrivelton: the flash is being written; stopping once it is written and checked "
    "(press Ctrl-C again to stop at once and leave the adapter without firmware)\n";

// Killed outright while the pages are written, the adapter is left with a
// blank identity page; the next run writes its own address back.
TEST_F(CliEndToEnd, KilledDuringThePageWritesTheNextRunRestoresTheAddress) {
  SimAdapter sim(dir_, "1FF", kLineForSignals);
  ASSERT_TRUE(sim.ready());
  const ToolRun killed =
      RunTool({"--port", sim.link(), "update", "--yes"}, Stdout::kRead,
              SignalAt(kWriting, SIGKILL));
  EXPECT_EQ(killed.status, 128 + SIGKILL);
  EXPECT_EQ(killed.out.find(" Success "), std::string::npos);
  ASSERT_EQ(StateFiles().size(), 1u);
  EXPECT_EQ(fs::status(StateDir() / StateFiles()[0]).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  // The page is blank now, and `identity` points at the saved address.
  const ToolRun blank = RunTool({"--port", sim.link(), "identity"});
  EXPECT_EQ(blank.status, cli::kExitStartUpAddress);
  EXPECT_EQ(blank.out.find("address:"), std::string::npos);
  EXPECT_NE(blank.err.find("keeps the address 00:1B:DC:0F:21:7E for " + sim.link()),
            std::string::npos)
      << blank.err;

  const ToolRun again = RunTool({"--port", sim.link(), "update", "--yes"});
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.out.find(" Identity page blank: restored address 00:1B:DC:0F:21:7E from " +
                           StateDir().string() + "/identity-"),
            std::string::npos)
      << again.out;
  EXPECT_TRUE(StateFiles().empty());
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.flash() == UpdatedFlash());
}

// Ctrl-C while the flash is written: the tool says it will finish, finishes
// the attempt and reports it.
TEST_F(CliEndToEnd, OneInterruptDuringThePageWritesFinishesTheUpdate) {
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signo));
    const fs::path sub = dir_ / std::to_string(signo);
    fs::create_directory(sub);
    SimAdapter sim(sub, "1FF", kLineForSignals);
    ASSERT_TRUE(sim.ready());
    const ToolRun run =
        RunTool({"--port", sim.link(), "update", "--yes"}, Stdout::kRead,
                SignalAt(kWriting, signo));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(WithoutProgress(run.err), kHeldNote);
    EXPECT_NE(run.out.find(std::string(" Success \n \n") + ui::UpdateSucceededText() + "\n"),
              std::string::npos);
    EXPECT_TRUE(StateFiles().empty());
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_TRUE(sim.flash() == UpdatedFlash());
  }
}

// A second Ctrl-C is the user insisting: the tool stops at once, and the
// address stays saved for the next run.
TEST_F(CliEndToEnd, ASecondInterruptStopsAtOnceAndKeepsTheAddress) {
  SimAdapter sim(dir_, "1FF", kLineForSignals);
  ASSERT_TRUE(sim.ready());
  const ToolRun run = RunTool({"--port", sim.link(), "update", "--yes"}, Stdout::kRead,
                              SignalAt(kWriting, SIGINT, 0, SIGINT));
  EXPECT_EQ(run.status, 130);
  // The first was held, the second was not; the tool's last words say what
  // the adapter is left with and what to run.
  ASSERT_EQ(StateFiles().size(), 1u);
  EXPECT_EQ(WithoutProgress(run.err),
            kHeldNote + "\nbrivelton: stopped while the flash was written: the adapter has "
                        "no working firmware. Its Bluetooth address 00:1B:DC:0F:21:7E is saved "
                        "at " + (StateDir() / StateFiles()[0]).string() +
                ". To try again, run:\n  brivelton --port " + sim.link() + " update\n");
  EXPECT_EQ(run.out.find(" Success "), std::string::npos);
  EXPECT_EQ(StateFiles().size(), 1u);
  const ToolRun again = RunTool({"--port", sim.link(), "update", "--yes"});
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.out.find(" Identity page blank: restored address 00:1B:DC:0F:21:7E"),
            std::string::npos);
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.flash() == UpdatedFlash());
}

// Interrupted while it searches, the tool ends at once, erases nothing and
// leaves the port to anyone who opens it next, not only to root.
TEST_F(CliEndToEnd, InterruptDuringCheckDeviceStopsAtOnceAndFreesThePort) {
  SimAdapter sim(dir_, "1FF", {"--silent"});
  ASSERT_TRUE(sim.ready());
  const auto untouched = sim.StartingFlash();
  const std::string pty = fs::canonical(sim.link()).string();
  ASSERT_EQ(chmod(pty.c_str(), 0666), 0);
  const ToolRun run = RunTool({"--port", sim.link(), "update", "--yes"}, Stdout::kRead,
                              SignalAt(" Search Device ...\n", SIGINT, 300));
  EXPECT_EQ(run.status, 130);
  // Stopped before Check Device could say what it found.
  EXPECT_EQ(run.out, " Search Device ...\n");
  EXPECT_TRUE(StateFiles().empty());

  if (geteuid() == 0) {
    const pid_t child = fork();
    if (child == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
      const int fd = open(pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      _exit(fd >= 0 ? 0 : errno == EBUSY ? 1 : 2);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the port stayed exclusive";
  }
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_EQ(sim.flash(), untouched);
}

TEST_F(CliEndToEnd, IdentityShowsTheAddressAndNameAndWritesNothing) {
  SimAdapter sim(dir_, "1FF", {"--address", "A1B2C3D4E5F6"});
  ASSERT_TRUE(sim.ready());
  const auto untouched = sim.StartingFlash();
  const ToolRun run = RunTool({"--port", sim.link(), "identity"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Text(Concat(CheckLog(sim.link(), 0x1FF),
                                 {" ", " Check Device ...", " Reboot MCU ",
                                  "address: A1:B2:C3:D4:E5:F6", "name: Brivelton(2A1)"})));
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(StateFiles().empty());
  // Back in its firmware: a check right after finds it as before.
  const ToolRun check = RunTool({"--port", sim.link(), "check"});
  EXPECT_EQ(check.out, Text(CheckLog(sim.link(), 0x1FF)));
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.flash() == untouched);
}

TEST_F(CliEndToEnd, IdentityOnABlankPageExitsSixAndSaysWhatToDo) {
  SimAdapter sim(dir_, "1FF", {"--blank-identity"});
  ASSERT_TRUE(sim.ready());
  const ToolRun run = RunTool({"--port", sim.link(), "identity"});
  EXPECT_EQ(run.status, cli::kExitStartUpAddress);
  EXPECT_EQ(run.out, Text(Concat(CheckLog(sim.link(), 0x1FF),
                                 {" ", " Check Device ...", " Reboot MCU "})));
  EXPECT_EQ(run.err,
            "brivelton: the identity page carries no Bluetooth address\n"
            "brivelton: give the adapter's address (its label, or the phone's list of paired "
            "devices) with brivelton update --address\n");

  // Given the address, an update writes it.
  const ToolRun update =
      RunTool({"--port", sim.link(), "update", "--yes", "--address", "001bdc0f217e"});
  EXPECT_EQ(update.status, 0);
  EXPECT_NE(update.out.find("\n Identity page blank: writing the given address "
                            "00:1B:DC:0F:21:7E\n"),
            std::string::npos);
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.flash() == UpdatedFlash());
}

// The saved address as a shop with several adapters meets it: each case
// starts with an update of adapter X (00:1B:DC:0F:21:7E) killed while the
// pages are written, its address then only in the journal.
class SavedAddressEndToEnd : public CliEndToEnd {
 protected:
  // X cut short on the port in `port_dir`; its flash as the kill left it,
  // for the next simulator to start from.
  fs::path CutShort(const fs::path& port_dir) {
    fs::create_directories(port_dir);
    SimAdapter x(port_dir, "1FF", kLineForSignals);
    EXPECT_TRUE(x.ready());
    const ToolRun killed =
        RunTool({"--port", x.link(), "update", "--yes"}, Stdout::kRead,
                SignalAt(kWriting, SIGKILL));
    EXPECT_EQ(killed.status, 128 + SIGKILL);
    EXPECT_EQ(x.Stop(), 0);
    const fs::path left = dir_ / "x-cut-short.bin";
    fs::copy_file(port_dir / "flash.bin", left, fs::copy_options::overwrite_existing);
    EXPECT_EQ(StateFiles(), std::vector<std::string>{"identity-001BDC0F217E"});
    return left;
  }
  const std::string kXEntry = "identity-001BDC0F217E";
};

// Another adapter updated on the same port neither replaces nor removes X's
// entry: X, back on the port, gets its own address.
TEST_F(SavedAddressEndToEnd, AnotherAdapterOnThePortLeavesAPendingEntryAlone) {
  const fs::path port = dir_ / "port";
  const fs::path x_flash = CutShort(port);
  {
    SimAdapter y(port, "1FF", {"--address", "00AABB112233"});
    ASSERT_TRUE(y.ready());
    const ToolRun run = RunTool({"--port", y.link(), "update", "--yes"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("ddress"), std::string::npos) << run.out;
    EXPECT_EQ(StateFiles(), std::vector<std::string>{kXEntry});
    ASSERT_EQ(y.Stop(), 0);
    EXPECT_TRUE(y.flash() == UpdatedFlash({0x00, 0xAA, 0xBB, 0x11, 0x22, 0x33}));
  }
  SimAdapter x(port, "1FF", {"--flash", x_flash.string()});
  ASSERT_TRUE(x.ready());
  const ToolRun run = RunTool({"--port", x.link(), "update", "--yes"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("\n Identity page blank: restored address 00:1B:DC:0F:21:7E from " +
                         (StateDir() / kXEntry).string() + "\n"),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(StateFiles().empty());
  ASSERT_EQ(x.Stop(), 0);
  EXPECT_TRUE(x.flash() == UpdatedFlash());
}

// A port name of 180 characters and more: the entry is saved and restored,
// and no line of the log is cut.
TEST_F(SavedAddressEndToEnd, ALongPortNameKeepsTheAddressAndEveryWord) {
  const fs::path port = dir_ / std::string(180, 'p');
  const fs::path x_flash = CutShort(port);
  SimAdapter x(port, "1FF", {"--flash", x_flash.string()});
  ASSERT_TRUE(x.ready());
  ASSERT_GE(x.link().size(), 180u);
  const ToolRun run = RunTool({"--port", x.link(), "update", "--yes"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("\n Identity page blank: restored address 00:1B:DC:0F:21:7E from "),
            std::string::npos)
      << run.out;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 255u) << line;
  EXPECT_TRUE(StateFiles().empty());
  ASSERT_EQ(x.Stop(), 0);
  EXPECT_TRUE(x.flash() == UpdatedFlash());
}

// X recovered on port B with --address: the entry saved from port A goes
// too, and a blank adapter on A later gets the start-up address, not X's.
TEST_F(SavedAddressEndToEnd, AnEntryWrittenBackElsewhereServesNoOtherAdapter) {
  const fs::path x_flash = CutShort(dir_ / "a");
  fs::create_directories(dir_ / "b");
  {
    SimAdapter x(dir_ / "b", "1FF", {"--flash", x_flash.string()});
    ASSERT_TRUE(x.ready());
    const ToolRun run =
        RunTool({"--port", x.link(), "update", "--yes", "--address", "00:1B:DC:0F:21:7E"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("\n Identity page blank: writing the given address "
                           "00:1B:DC:0F:21:7E\n"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(StateFiles().empty());
    ASSERT_EQ(x.Stop(), 0);
    EXPECT_TRUE(x.flash() == UpdatedFlash());
  }
  SimAdapter z(dir_ / "a", "1FF", {"--blank-identity"});
  ASSERT_TRUE(z.ready());
  const ToolRun run = RunTool({"--port", z.link(), "update", "--yes"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.find("00:1B:DC:0F:21:7E"), std::string::npos) << run.out;
  ASSERT_EQ(z.Stop(), 0);
  EXPECT_TRUE(z.flash() == UpdatedFlash(kDefaultBtAddress));
}

// The start-up address on the page counts as none: --address and a saved
// entry replace it. An entry file that can't be read is named and left.
TEST_F(SavedAddressEndToEnd, TheStartUpAddressLocksNothingOut) {
  SimAdapter sim(dir_, "1FF", {"--address", "000100030406"});
  ASSERT_TRUE(sim.ready());
  // Cut short: no address in it.
  fs::create_directories(StateDir());
  const std::string damaged = "port=" + sim.link() + "\naddress=00:1B:DC";
  std::ofstream(StateDir() / kXEntry) << damaged;
  const ToolRun identity = RunTool({"--port", sim.link(), "identity"});
  EXPECT_EQ(identity.status, cli::kExitStartUpAddress);
  EXPECT_NE(identity.out.find("\naddress: 00:01:00:03:04:06\n"), std::string::npos);
  EXPECT_EQ(identity.err,
            "brivelton: 00:01:00:03:04:06 is the start-up address every blank adapter gets, not "
            "this adapter's own\n"
            "brivelton: Left " + (StateDir() / kXEntry).string() +
                " alone: it holds no port and Bluetooth address\n"
                "brivelton: give the adapter's address (its label, or the phone's list of paired "
                "devices) with brivelton update --address\n");
  const ToolRun first = RunTool({"--port", sim.link(), "update", "--yes"});
  EXPECT_EQ(first.status, 0);
  EXPECT_NE(first.out.find("\n Left " + (StateDir() / kXEntry).string() +
                           " alone: it holds no port and Bluetooth address\n"),
            std::string::npos)
      << first.out;
  std::ifstream kept(StateDir() / kXEntry);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), damaged);

  const ToolRun given =
      RunTool({"--port", sim.link(), "update", "--yes", "--address", "001BDC0F217E"});
  EXPECT_EQ(given.status, 0);
  EXPECT_NE(given.out.find("\n Identity page carries the start-up address 00:01:00:03:04:06, no "
                           "address of its own: writing the given address 00:1B:DC:0F:21:7E\n"),
            std::string::npos)
      << given.out;
  // The damaged file is still as it was, beside nothing else.
  EXPECT_EQ(StateFiles(), std::vector<std::string>{kXEntry});
  kept = std::ifstream(StateDir() / kXEntry);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), damaged);
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.flash() == UpdatedFlash());
  fs::remove(StateDir() / kXEntry);

  // Saved by an editor with CR LF line ends, an entry still restores.
  fs::create_directories(dir_ / "again");
  SimAdapter again(dir_ / "again", "1FF", {"--address", "000100030406"});
  ASSERT_TRUE(again.ready());
  std::ofstream(StateDir() / kXEntry) << "port=" << again.link()
                                      << "\r\naddress=00:1B:DC:0F:21:7E\r\n";
  const ToolRun restored = RunTool({"--port", again.link(), "update", "--yes"});
  EXPECT_EQ(restored.status, 0);
  EXPECT_NE(restored.out.find(" Identity page carries the start-up address 00:01:00:03:04:06, no "
                              "address of its own: restored address 00:1B:DC:0F:21:7E"),
            std::string::npos)
      << restored.out;
  EXPECT_TRUE(StateFiles().empty());
  ASSERT_EQ(again.Stop(), 0);
  EXPECT_TRUE(again.flash() == UpdatedFlash());
}

// Output that can't be written is a failure, as in the standard tools: the
// command does its work, then says so in one line and exits 1. (A reader that
// went away is SIGPIPE's case: its status stays the job's, as above.)
TEST_F(CliEndToEnd, EveryCommandExitsOneWhenItsOutputCannotBeWritten) {
  SimAdapter sim(dir_, Hex3(BuiltInImage().version()));
  ASSERT_TRUE(sim.ready());
  const std::vector<std::string> on_sim = {"--port", sim.link()};
  const std::vector<std::vector<std::string>> commands = {
      {"firmware"},
      {"firmware", "--json"},
      {"help"},
      {"--help"},
      {"--version"},
      {"settings-help"},
      {"--port", "/dev/ttyUSB3", "ports"},
      {"--port", "/dev/ttyUSB3", "ports", "--json"},
      Concat(on_sim, {"check"}),
      Concat(on_sim, {"check", "--json"}),
      Concat(on_sim, {"identity"}),
      Concat(on_sim, {"identity", "--json"}),
      Concat(on_sim, {"settings"}),
      Concat(on_sim, {"settings", "--json"}),
      Concat(on_sim, {"settings", "hook-speed=100ms"}),
      Concat(on_sim, {"update", "--yes"}),
  };
  for (const auto& args : commands) {
    std::string line;
    for (const auto& arg : args) line += " " + arg;
    SCOPED_TRACE(line);
    const ToolRun run = RunTool(args, Stdout::kFull);
    EXPECT_EQ(run.status, 1);
    // Where stdout carries JSON, the log goes to stderr before the line.
    const std::string said = "brivelton: can't write standard output: No space left on device\n";
    EXPECT_TRUE(run.err.ends_with(said)) << run.err;
    EXPECT_EQ(run.err.find("brivelton:"), run.err.size() - said.size()) << run.err;
  }
  // The work itself was done.
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.flash() == UpdatedFlash());
  EXPECT_EQ(sim.params().at(4), 10u);
}

// A FIFO would hold the read until somebody wrote to it; a device may never
// end it. Either is refused at once, before any port is touched.
TEST_F(CliEndToEnd, AnImageThatIsNoRegularFileIsRefusedAtOnce) {
  const std::string fifo = (dir_ / "image.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& image : {fifo, std::string("/dev/zero")}) {
    using Args = std::vector<std::string>;
    for (const Args& command : {Args{"firmware"}, {"update", "--port", "/dev/null", "--yes"}}) {
      SCOPED_TRACE(command[0] + " " + image);
      const ToolRun run = RunTool(Concat(command, {"--image", image, "--image-version", "205"}));
      EXPECT_EQ(run.status, cli::kExitRefused);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, "brivelton: can't read the firmware image " + image +
                             ": not a regular file\n");
    }
  }
}

// Files planted in the state folder: none makes a blank-page update or
// `identity` hang or crash, none is followed or used, none of their control
// characters reaches the terminal, and each is left as it was.
TEST_F(CliEndToEnd, PlantedStateFilesAreLeftAsTheyWereAndNeverHang) {
  SimAdapter sim(dir_, "1FF", {"--blank-identity"});
  ASSERT_TRUE(sim.ready());
  const fs::path state = StateDir();
  fs::create_directories(state);
  fs::create_directories(dir_ / "outside");
  // Followed, this link would be the one entry saved from this port.
  const BtAddressBytes linked = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
  std::ofstream(dir_ / "outside" / "entry")
      << "port=" << sim.link() << "\naddress=" << FormatBtAddress(linked) << "\n";
  fs::create_symlink(dir_ / "outside" / "entry", state / JournalFileName(linked));
  // Sparse: three gigabytes that take no room, but would take memory.
  std::ofstream(state / "identity-huge").close();
  fs::resize_file(state / "identity-huge", 3ull << 30);
  ASSERT_EQ(mkfifo((state / "identity-fifo").c_str(), 0600), 0);
  // An entry of another port whose text would move the cursor, clear the
  // screen and set the terminal's title.
  const BtAddressBytes other = {0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6};
  std::ofstream(state / JournalFileName(other))
      << "port=/dev/ttyUSB9\x1b[2J\r\naddress=" << FormatBtAddress(other)
      << "\nname=\x1b]0;owned\x07\nsaved=\r\x1b[1A\n";
  std::ofstream(state / "identity-binary", std::ios::binary)
      << std::string("port=\0\xff\r\n\x7f\x1b", 12);
  std::vector<std::pair<fs::path, std::string>> planted;
  for (const auto& entry : fs::directory_iterator(state))
    planted.emplace_back(entry.path(), FileSnapshot(entry.path()));
  planted.emplace_back(dir_ / "outside" / "entry", FileSnapshot(dir_ / "outside" / "entry"));

  auto shown_raw = [](const std::string& text) {
    return text.find_first_of("\x1b\r\x07") != std::string::npos;
  };
  const ToolRun identity = RunTool({"--port", sim.link(), "identity"});
  EXPECT_EQ(identity.status, cli::kExitStartUpAddress);
  EXPECT_NE(identity.err.find("identity-fifo alone: it is not a regular file"),
            std::string::npos) << identity.err;
  EXPECT_NE(identity.err.find("identity-huge alone: it is larger than 4096 bytes"),
            std::string::npos) << identity.err;
  EXPECT_NE(identity.err.find(" alone: it is a symbolic link, not followed"), std::string::npos)
      << identity.err;
  EXPECT_FALSE(shown_raw(identity.out + identity.err)) << identity.err;

  const auto untouched = sim.StartingFlash();
  const ToolRun update = RunTool({"--port", sim.link(), "update", "--yes"});
  // The other port's entry might be this adapter's: nobody guesses, and the
  // linked one is no candidate at all.
  EXPECT_EQ(update.status, 4);
  EXPECT_NE(update.err.find("brivelton update --address B1:B2:B3:B4:B5:B6"), std::string::npos)
      << update.err;
  EXPECT_EQ(update.err.find("A1:A2:A3:A4:A5:A6"), std::string::npos) << update.err;
  EXPECT_FALSE(shown_raw(update.out + update.err)) << update.out;
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(sim.flash() == untouched);
  for (const auto& [path, before] : planted) EXPECT_EQ(FileSnapshot(path), before) << path;
}

// The real tool on real files: a path with no device behind it, and the
// simulator's terminal while another program holds its lock.
TEST_F(CliEndToEnd, PortErrorsNameThePortAndTheReasonOnStderr) {
  const std::string missing = (dir_ / "ttyNOPE").string();
  const ToolRun gone = RunTool({"--port", missing, "check"});
  EXPECT_NE(gone.status, 0);
  EXPECT_NE(gone.out.find(" COM port may be used by others.\n"), std::string::npos) << gone.out;
  EXPECT_EQ(gone.err, "brivelton: " + missing + ": no such device\n");

  SimAdapter sim(dir_, "1FF");
  ASSERT_TRUE(sim.ready());
  const int holder = open(sim.link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  const ToolRun held = RunTool({"--port", sim.link(), "check"});
  close(holder);
  EXPECT_NE(held.status, 0);
  EXPECT_NE(held.out.find(" COM port may be used by others.\n"), std::string::npos) << held.out;
  EXPECT_EQ(held.err, "brivelton: " + sim.link() + ": held by another program\n");
}

}  // namespace
}  // namespace brivelton::testing

namespace brivelton::testing {
namespace {

// What scripts act on, from the built tool against the simulator: the exit
// status and the one JSON object of each way a command ends.
struct OutcomeRow {
  const char* name;
  std::vector<std::string> sim;   // the simulator's options; none: no adapter at all
  std::vector<std::string> tool;  // after --port and before --json
  std::vector<std::pair<BtAddressBytes, bool>> saved;  // journal entries: address, this port's
  int status;
  const char* fields;  // what the object must hold, as JSON
};

struct Outcome {
  int status = -1;
  nlohmann::json object;
  std::string err;
  std::string port;
};

class OutcomeEndToEnd : public CliEndToEnd {
 protected:
  // Runs the row's command with --json on a simulator of its own.
  Outcome Run(const OutcomeRow& row) {
    Outcome outcome;
    const fs::path sub = dir_ / std::to_string(++runs_);
    fs::create_directories(sub);
    std::unique_ptr<SimAdapter> sim;
    outcome.port = (sub / "nothing-here").string();
    if (!row.sim.empty()) {
      sim = std::make_unique<SimAdapter>(
          sub, row.sim[0], std::vector<std::string>(row.sim.begin() + 1, row.sim.end()));
      EXPECT_TRUE(sim->ready());
      outcome.port = sim->link();
    }
    fs::create_directories(StateDir());
    for (const auto& [address, here] : row.saved)
      std::ofstream(StateDir() / JournalFileName(address)) << FormatJournalEntry(
          {here ? outcome.port : "/dev/elsewhere", address, "", "2026-01-01T00:00:00Z"});
    std::vector<std::string> args = {"--port", outcome.port};
    args.insert(args.end(), row.tool.begin(), row.tool.end());
    args.push_back("--json");
    const ToolRun run = RunTool(args);
    outcome.status = run.status;
    outcome.err = run.err;
    try {
      outcome.object = nlohmann::json::parse(run.out);
    } catch (const nlohmann::json::exception& e) {
      ADD_FAILURE() << e.what() << " in\n" << run.out;
    }
    if (sim) {
      EXPECT_EQ(sim->Stop(), 0);
    }
    for (const auto& [address, here] : row.saved) fs::remove(StateDir() / JournalFileName(address));
    return outcome;
  }
  Outcome Check(const OutcomeRow& row) {
    SCOPED_TRACE(row.name);
    Outcome outcome = Run(row);
    EXPECT_EQ(outcome.status, row.status) << outcome.err;
    EXPECT_EQ(outcome.object["format"], 1);
    const nlohmann::json fields = nlohmann::json::parse(row.fields);
    for (const auto& [key, value] : fields.items()) EXPECT_EQ(outcome.object[key], value) << key;
    return outcome;
  }
  int runs_ = 0;
};

const std::string kImage = Hex3(BuiltInImage().version());

TEST_F(OutcomeEndToEnd, EachOutcomeHasItsStatusAndItsObject) {
  const OutcomeRow rows[] = {
      {"updated", {"1FF"}, {"update", "--yes"}, {}, cli::kExitDone,
       R"({"outcome": "updated", "attempts": 1, "firmware_version": "1FF",
           "address": "00:1B:DC:0F:21:7E", "address_source": "page"})"},
      {"--if-older with nothing to do", {kImage}, {"-q", "update", "--yes", "--if-older"}, {},
       cli::kExitDone, R"({"outcome": "up-to-date", "attempts": 0, "address": null})"},
      {"no adapter", {}, {"update", "--yes"}, {}, cli::kExitNoAdapter,
       R"({"outcome": "not-found", "found": false})"},
      {"cancelled: no --yes without a terminal", {"1FF"}, {"update"}, {}, cli::kExitCancelled,
       R"({"outcome": "cancelled", "attempts": 0, "firmware_version_after": "1FF"})"},
      {"settings on 1.FF", {"1FF"}, {"settings"}, {}, cli::kExitRefused,
       R"({"outcome": "not-supported", "settings": null})"},
      {"settings read", {kImage}, {"settings"}, {}, cli::kExitDone, R"({"outcome": "read"})"},
      {"identity on a start-up page", {"1FF", "--address", "000100030406"}, {"identity"}, {},
       cli::kExitStartUpAddress, R"({"address": "00:01:00:03:04:06"})"},
  };
  for (const auto& row : rows) Check(row);
  // Nothing to do is said on stderr even with -q, in one line.
  EXPECT_EQ(Check(rows[1]).err, "brivelton: nothing to do: the adapter's firmware " +
                                    VersionText(BuiltInImage().version()) +
                                    " is not older than " +
                                    VersionText(BuiltInImage().version()) + " (--if-older)\n");
}

// Twenty attempts with their pauses take a minute of real time: one row.
TEST_F(OutcomeEndToEnd, TwentyFailedAttemptsExitOneAndSayWhatToRun) {
  const Outcome failed =
      Check({"twenty failed attempts", {"1FF", "--wrong-checksum"}, {"update", "--yes"}, {},
             cli::kExitFailed,
             R"({"outcome": "failed", "attempts": 20, "firmware_version_after": null,
                 "address": "00:1B:DC:0F:21:7E", "address_source": "page"})"});
  const std::string file = (StateDir() / "identity-001BDC0F217E").string();
  EXPECT_EQ(failed.object["journal"], nlohmann::json({{"file", file}, {"entry", "kept"}}));
  EXPECT_NE(failed.err.find("Attempt 19 of 20 failed: the checksum did not match. Trying again "
                            "in 3 s. Do not unplug the adapter.\n"),
            std::string::npos);
  EXPECT_TRUE(failed.err.ends_with(
      "Update failed. Please unplug the device and try again.\n"))  // the log's, with --json
      << failed.err;
  EXPECT_NE(failed.err.find("brivelton: the update failed after 20 attempts: the adapter has no "
                            "working firmware. Its Bluetooth address 00:1B:DC:0F:21:7E is saved "
                            "at " + file + ". To try again, run:\n  brivelton --port " +
                            failed.port + " update\n"),
            std::string::npos)
      << failed.err;
}

// Several addresses saved from this port and none chosen: with --yes the tool
// refuses before erasing anything, naming them.
TEST_F(OutcomeEndToEnd, TwoSavedAddressesWithYesAreRefused) {
  const OutcomeRow row = {
      "two saved addresses", {"1FF", "--blank-identity"}, {"update", "--yes"},
      {{{0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E}, true}, {{0x00, 0xAA, 0xBB, 0x11, 0x22, 0x33}, true}},
      cli::kExitRefused, R"({"outcome": "refused", "firmware_version_after": "1FF"})"};
  Check(row);
}

// The address an update writes is decided once, proved on the adapter and
// never guessed: each row a case that an earlier version got wrong.
class AddressDecidedOnce : public SavedAddressEndToEnd,
                           public ::testing::WithParamInterface<int> {
 protected:
  // Runs row `index` of the table in a folder of its own.
  void Row(int index);
};

void AddressDecidedOnce::Row(int index) {
  const std::string kX = "00:1B:DC:0F:21:7E", kY = "00:AA:BB:11:22:33";
  const std::string kYEntry = "identity-00AABB112233";
  // An update of the adapter in `port` killed while its pages are written;
  // its flash then, kept for the next simulator.
  int cuts = 0;
  auto cut = [&](const fs::path& port, const std::vector<std::string>& extra) {
    fs::create_directories(port);
    fs::path left = dir_ / ("cut-" + std::to_string(++cuts) + ".bin");
    {
      SimAdapter a(port, "1FF", Concat(kLineForSignals, extra));
      EXPECT_TRUE(a.ready());
      const ToolRun killed = RunTool({"--port", a.link(), "update", "--yes"}, Stdout::kRead,
                                     SignalAt(kWriting, SIGKILL));
      EXPECT_EQ(killed.status, 128 + SIGKILL);
      EXPECT_EQ(a.Stop(), 0);
    }
    fs::copy_file(port / "flash.bin", left, fs::copy_options::overwrite_existing);
    return left;
  };
  auto read_text = [](const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string kStartUpLine =
      " No address saved for this adapter: writing the start-up address 00:01:00:03:04:06. To "
      "give its own (on its label, or in the phone's list of paired devices), update again: "
      "brivelton update --address <address>\n";

  struct Case {
    const char* name;
    std::function<void(const fs::path& port)> run;
  };
  const Case cases[] = {
      {"two adapters cut short on one port: nothing erased, both named, then --address",
       [&](const fs::path& port) {
         const fs::path x_flash = cut(port, {});
         cut(port, {"--address", "00AABB112233"});
         EXPECT_THAT(StateFiles(), ::testing::UnorderedElementsAre(kXEntry, kYEntry));
         {
           SimAdapter x(port, "1FF", {"--flash", x_flash.string()});
           ASSERT_TRUE(x.ready());
           const auto untouched = x.StartingFlash();
           const ToolRun refused = RunTool({"--port", x.link(), "update", "--yes"});
           EXPECT_EQ(refused.status, 4);
           EXPECT_EQ(refused.out.find(" Erase flash"), std::string::npos) << refused.out;
           EXPECT_EQ(refused.out.find("Success"), std::string::npos) << refused.out;
           EXPECT_EQ(refused.out.find(ui::UpdateSucceededText()), std::string::npos);
           for (const auto& address : {kX, kY})
             EXPECT_NE(refused.err.find("  brivelton update --address " + address), std::string::npos)
                 << refused.err;
           ASSERT_EQ(x.Stop(), 0);
           EXPECT_TRUE(x.flash() == untouched);
         }
         SimAdapter x(port, "1FF", {"--flash", x_flash.string()});
         ASSERT_TRUE(x.ready());
         const ToolRun given = RunTool({"--port", x.link(), "update", "--yes", "--address", kX});
         EXPECT_EQ(given.status, 0) << given.out;
         ASSERT_EQ(x.Stop(), 0);
         EXPECT_TRUE(x.flash() == UpdatedFlash());
         EXPECT_EQ(StateFiles(), std::vector<std::string>{kYEntry});
       }},
      {"one adapter cut short twice, entries of both formats: restored without a question",
       [&](const fs::path& port) {
         const fs::path first = cut(port, {});
         std::ofstream(StateDir() / EarlierJournalFileName((port / "adapter").string()))
             << "port=" << (port / "adapter").string() << "\naddress=" << kX << "\n";
         const fs::path second = cut(port, {"--flash", first.string()});
         EXPECT_EQ(StateFiles().size(), 2u);
         SimAdapter x(port, "1FF", {"--flash", second.string()});
         ASSERT_TRUE(x.ready());
         const ToolRun run = RunTool({"--port", x.link(), "update", "--yes"});
         EXPECT_EQ(run.status, 0);
         EXPECT_NE(run.out.find(" Identity page blank: restored address " + kX), std::string::npos)
             << run.out;
         EXPECT_EQ(run.out.find("is not used"), std::string::npos) << run.out;
         EXPECT_TRUE(StateFiles().empty());
         ASSERT_EQ(x.Stop(), 0);
         EXPECT_TRUE(x.flash() == UpdatedFlash());
       }},
      {"killed during the restart: no entry left; a blank adapter later gets the start-up address",
       [&](const fs::path& port) {
         fs::create_directories(port);
         {
           SimAdapter x(port, "1FF", kLineForSignals);
           ASSERT_TRUE(x.ready());
           const ToolRun killed = RunTool({"--port", x.link(), "update", "--yes"}, Stdout::kRead,
                                          SignalAt(" Reboot MCU \n", SIGKILL));
           EXPECT_NE(killed.out.find(" Reboot MCU "), std::string::npos);
           EXPECT_TRUE(StateFiles().empty());
           ASSERT_EQ(x.Stop(), 0);
         }
         SimAdapter z(port, "1FF", {"--blank-identity"});
         ASSERT_TRUE(z.ready());
         const ToolRun run = RunTool({"--port", z.link(), "update", "--yes"});
         EXPECT_EQ(run.status, 0);
         EXPECT_NE(run.out.find("\n" + kStartUpLine), std::string::npos) << run.out;
         EXPECT_EQ(run.out.find(kX), std::string::npos) << run.out;
         ASSERT_EQ(z.Stop(), 0);
         EXPECT_TRUE(z.flash() == UpdatedFlash(kDefaultBtAddress));
       }},
      {"identity page stored wrong once: the next attempt writes it right",
       [&](const fs::path& port) {
         fs::create_directories(port);
         SimAdapter x(port, "1FF", {"--wrong-identity", "1"});
         ASSERT_TRUE(x.ready());
         const ToolRun run = RunTool({"--port", x.link(), "update", "--yes"});
         EXPECT_EQ(run.status, 0);
         const size_t wrong = run.out.find(" Identity page read back wrong\n");
         ASSERT_NE(wrong, std::string::npos) << run.out;
         // Not a success until the second attempt proved the page.
         EXPECT_EQ(run.out.rfind(" Success "), run.out.find(" Success "));
         EXPECT_GT(run.out.find(" Success "), run.out.find(" Erase flash", wrong));
         EXPECT_TRUE(StateFiles().empty());
         ASSERT_EQ(x.Stop(), 0);
         EXPECT_TRUE(x.flash() == UpdatedFlash());
       }},
      {"a state folder that takes no writes, the right entry in it: the update completes",
       [&](const fs::path& port) {
         const fs::path x_flash = cut(port, {});
         // Every file write fails as on a full disk; without root, the folder
         // is read-only too.
         if (geteuid() != 0) fs::permissions(StateDir(), fs::perms::owner_read | fs::perms::owner_exec);
         SimAdapter x(port, "1FF", {"--flash", x_flash.string()});
         ASSERT_TRUE(x.ready());
         const ToolRun run =
             RunTool({"--port", x.link(), "update", "--yes"}, Stdout::kRead, nullptr,
                     "ulimit -f 0; trap '' XFSZ;");
         fs::permissions(StateDir(), fs::perms::owner_all);
         EXPECT_EQ(run.status, 0) << run.out;
         EXPECT_EQ(run.out.find("nothing erased"), std::string::npos) << run.out;
         ASSERT_EQ(x.Stop(), 0);
         EXPECT_TRUE(x.flash() == UpdatedFlash());
       }},
      {"standard error closed and a Ctrl-C during the page writes: nothing but frames on the line",
       [&](const fs::path& port) {
         std::string stray[2];
         for (const bool closed : {false, true}) {
           const fs::path sub = port / (closed ? "closed" : "open");
           fs::create_directories(sub);
           SimAdapter x(sub, "1FF",
                        Concat(kLineForSignals, {"--dump-stray", (sub / "stray").string()}));
           ASSERT_TRUE(x.ready());
           const ToolRun run = RunTool({"--port", x.link(), "update", "--yes"}, Stdout::kRead,
                                       SignalAt(kWriting, SIGINT), closed ? "exec 2>&-;" : "");
           EXPECT_EQ(run.status, 0) << run.out;
           EXPECT_EQ(WithoutProgress(run.err), closed ? "" : kHeldNote);
           ASSERT_EQ(x.Stop(), 0);
           EXPECT_TRUE(x.flash() == UpdatedFlash());
           stray[closed] = read_text(sub / "stray");
         }
         // The note went nowhere: not a word of it reached the adapter. (How many
         // bytes the adapter drops may differ between runs on a busy machine: a
         // frame whose writer is held up past the adapter's patience is dropped.)
         for (const bool closed : {false, true})
           for (const std::string_view words : {"the flash is being written", "press Ctrl-C again"})
             EXPECT_EQ(stray[closed].find(words), std::string::npos) << closed << ": " << words;
       }},
      {"nohup and a hang-up during the page writes: the update completes",
       [&](const fs::path& port) {
         fs::create_directories(port);
         SimAdapter x(port, "1FF", kLineForSignals);
         ASSERT_TRUE(x.ready());
         const ToolRun run = RunTool({"--port", x.link(), "update", "--yes"}, Stdout::kRead,
                                     SignalAt(kWriting, SIGHUP), "trap '' HUP;");
         EXPECT_EQ(run.status, 0);
         EXPECT_EQ(WithoutProgress(run.err), "");  // not even held: ignored
         EXPECT_NE(run.out.find(ui::UpdateSucceededText()), std::string::npos);
         ASSERT_EQ(x.Stop(), 0);
         EXPECT_TRUE(x.flash() == UpdatedFlash());
       }},
  };
  ASSERT_LT(static_cast<size_t>(index), std::size(cases));
  SCOPED_TRACE(cases[index].name);
  cases[index].run(dir_ / "port");
}

// One test a row, so that the rows, each a few seconds of real time, run side
// by side.
TEST_P(AddressDecidedOnce, Row) { Row(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, AddressDecidedOnce, ::testing::Range(0, 7));

}  // namespace
}  // namespace brivelton::testing
