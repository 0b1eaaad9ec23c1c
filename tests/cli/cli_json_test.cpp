// SPDX-License-Identifier: MIT
// What scripts rely on: --json's one object per command (parsed here, every
// form), --if-older, --version, --quiet, the short options and
// $BRIVELTON_PORT, on a simulated adapter in virtual time.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "app/command_line.h"
#include "cli/exit_status.h"
#include "cli_harness.h"
#include "link/frames.h"
#include "resources/firmware_image.h"
#include "sim/virtual_adapter.h"
#include "support/memory_state_store.h"
#include "support/scratch_dir.h"
#include "update/journal_entry.h"

namespace brivelton::testing {
namespace {

using enum CommandKind;

using nlohmann::json;
constexpr const char* kJsonPort = "/dev/ttyUSB0";

// The whole of stdout as one JSON object; anything else there fails.
json Parsed(const CliRun& run) {
  json parsed;
  try {
    parsed = json::parse(run.out);
  } catch (const json::exception& e) {
    ADD_FAILURE() << e.what() << " in\n" << run.out;
  }
  EXPECT_TRUE(parsed.is_object()) << run.out;
  // The format's version comes first in every object.
  EXPECT_EQ(run.out.rfind("{\n  \"format\": 1,\n", 0), 0u) << run.out;
  return parsed;
}

// The image facts, from the image itself.
void ExpectImage(const json& image) {
  const FirmwareImage& built_in = BuiltInImage();
  char hex[16];
  std::snprintf(hex, sizeof hex, "%03X", static_cast<unsigned>(built_in.version()));
  EXPECT_EQ(image["version"], hex);
  EXPECT_EQ(image["version_number"], built_in.version());
  EXPECT_EQ(image["version_text"], VersionText(built_in.version()));
  EXPECT_EQ(image["size"], 512000);
  const auto& c = built_in.checksum();
  std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", c[0], c[1], c[2], c[3]);
  EXPECT_EQ(image["checksum"], hex);
  EXPECT_EQ(image["placeholder"], built_in.placeholder());
  EXPECT_EQ(image.size(), 6u);
}

class CliJson : public ::testing::Test {
 protected:
  sim::DeviceModel& Attach(uint32_t version = 0x1FF) {
    sim::AdapterConfig config;
    config.version = version;
    config.params = {{1, 0}, {2, 1}, {3, 1}, {4, 10}, {5, 150},
                     {6, 1}, {7, 0}, {8, 1}, {9, 0}, {10, 0}};
    adapter_ = std::make_unique<sim::VirtualAdapter>(h.virtual_ports, kJsonPort, config);
    h.port_list.listing.entries.emplace_back(kJsonPort);
    return adapter_->model();
  }
  int FramesOf(CommandKind kind) {
    int n = 0;
    for (const auto& f : adapter_->model().frames()) n += f.kind == kind;
    return n;
  }
  CliHarness h;
  std::unique_ptr<sim::VirtualAdapter> adapter_;
};

TEST_F(CliJson, DeviceCommandsPrintOneObjectAndTheLogOnStderr) {
  Attach(BuiltInImage().version());
  const CliRun plain = h.Run({"check"});
  const CliRun run = h.Run({"check", "--json"});
  EXPECT_EQ(run.status, plain.status);
  EXPECT_EQ(run.err, plain.out);  // the log, moved
  const json check = Parsed(run);
  EXPECT_EQ(check["found"], true);
  EXPECT_EQ(check["port"], kJsonPort);
  EXPECT_EQ(check["firmware_version_number"], BuiltInImage().version());
  EXPECT_EQ(check["update_available"], false);
  ExpectImage(check["image"]);

  const json identity = Parsed(h.Run({"identity", "--json"}));
  EXPECT_EQ(identity["address"], "00:1B:DC:0F:21:7E");
  EXPECT_EQ(identity["name"], "Brivelton(B00)");
  EXPECT_EQ(identity["firmware_version"], check["firmware_version"]);

  // The values the text form prints, by name.
  const CliRun text = h.Run({"-q", "settings"});
  json expected = json::object();
  for (const auto& line : Lines(text.out))
    expected[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
  const CliRun shown_run = h.Run({"settings", "--json"});
  EXPECT_EQ(shown_run.status, 0);
  const json shown = Parsed(shown_run);
  EXPECT_EQ(shown["outcome"], "read");  // nothing was asked to change
  EXPECT_EQ(shown["settings"].size(), 10u);
  EXPECT_EQ(shown["settings"], expected);
  EXPECT_EQ(shown["settings"]["caller-id"], "off");

  const CliRun written_run = h.Run({"settings", "caller-id=on", "hook-speed=100ms", "--json"});
  EXPECT_EQ(written_run.status, 0);
  const json written = Parsed(written_run);
  EXPECT_EQ(written["outcome"], "written");
  EXPECT_EQ(written["settings"]["caller-id"], "on");
  EXPECT_EQ(written["settings"]["hook-speed"], "100ms");
  EXPECT_EQ(adapter_->model().param(1), 1u);
}

TEST_F(CliJson, FailuresKeepTheirExitStatusAndSayWhatIsUnknown) {
  // Nobody there: found false, the rest null.
  for (const char* command : {"check", "identity", "settings"}) {
    SCOPED_TRACE(command);
    CliHarness none;
    none.port_list.listing.entries.emplace_back(kJsonPort);
    const CliRun run = none.Run({command, "--json"});
    EXPECT_EQ(run.status, cli::kExitNoAdapter);
    const json j = Parsed(run);
    EXPECT_EQ(j["found"], false);
    EXPECT_TRUE(j["port"].is_null());
    EXPECT_TRUE(j["firmware_version"].is_null());
    EXPECT_TRUE(j["update_available"].is_null());
    if (std::string(command) == "identity") {
      EXPECT_TRUE(j["address"].is_null());
    }
    if (std::string(command) == "settings") {
      EXPECT_TRUE(j["settings"].is_null());
    }
  }
  // Old firmware: settings refused, an update offered.
  Attach(0x1FF);
  const CliRun old = h.Run({"settings", "--json"});
  EXPECT_EQ(old.status, cli::kExitRefused);
  const json j = Parsed(old);
  EXPECT_EQ(j["outcome"], "not-supported");
  EXPECT_TRUE(j["settings"].is_null());
  EXPECT_EQ(j["firmware_version"], "1FF");
  EXPECT_EQ(j["firmware_version_number"], 0x1FF);
  EXPECT_EQ(j["update_available"], true);
}

// The text and the object show one outcome: the same exit status, the same
// words on stderr beside them (-q keeps the log out of it), and the identity
// page's address where the text prints it.
TEST(CliJsonViews, TheTextAndTheObjectShowTheSameOutcome) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    sim::AdapterConfig config;
    bool attached = true;
  };
  sim::AdapterConfig blank;
  blank.blank_identity = true;
  sim::AdapterConfig start_up;
  start_up.bt_address = kDefaultBtAddress;
  sim::AdapterConfig old;
  old.version = 0x100;
  sim::AdapterConfig current;
  current.version = BuiltInImage().version();
  const Case cases[] = {
      {"check", {"check"}, {}},
      {"check, nobody there", {"check"}, {}, false},
      {"identity, its own address", {"identity"}, {}},
      {"identity, a blank page", {"identity"}, blank},
      {"identity, the start-up address", {"identity"}, start_up},
      {"identity, nobody there", {"identity"}, {}, false},
      {"settings read", {"settings"}, {}},
      {"settings on firmware without them", {"settings"}, old},
      {"update, nobody there", {"update", "--yes"}, {}, false},
      {"update, not older", {"update", "--yes", "--if-older"}, current},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<bool, CliRun> runs;
    for (bool as_json : {false, true}) {
      CliHarness h;
      h.port_list.listing.entries.emplace_back(kJsonPort);
      std::unique_ptr<sim::VirtualAdapter> adapter;
      if (c.attached)
        adapter = std::make_unique<sim::VirtualAdapter>(h.virtual_ports, kJsonPort, c.config);
      std::vector<std::string> args = {"-q"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      if (as_json) args.push_back("--json");
      runs[as_json] = h.Run(args);
    }
    const CliRun& text = runs[false];
    const CliRun& object = runs[true];
    EXPECT_EQ(object.status, text.status);
    EXPECT_EQ(object.err, text.err);
    const json parsed = Parsed(object);
    EXPECT_EQ(parsed["found"], c.attached);
    if (c.args[0] == "identity") {
      const auto lines = Lines(text.out);
      if (parsed["address"].is_null()) {
        EXPECT_TRUE(lines.empty()) << text.out;
      } else {
        ASSERT_EQ(lines.size(), 2u) << text.out;
        EXPECT_EQ("address: " + parsed["address"].get<std::string>(), lines[0]);
        EXPECT_EQ("name: " + parsed["name"].get<std::string>(), lines[1]);
      }
    }
  }
}

TEST(CliJsonOffline, FirmwareAndPorts) {
  CliHarness h;
  const ScratchDir scratch("brivelton_json");
  const std::string path = (scratch.path() / "image.bin").string();
  const CliRun run = h.Run({"firmware", "--json", "--save", path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const json firmware = Parsed(run);
  ExpectImage(firmware["image"]);
  EXPECT_EQ(firmware["saved"], path);
  const CliRun failed = h.Run({"firmware", "--json", "--save", "/nonexistent/dir/x.bin"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_TRUE(Parsed(failed)["saved"].is_null());

  h.port_list.listing.entries = {std::string("/dev/ttyS0"), std::string("/dev/ttyUSB0")};
  h.port_list.details["/dev/ttyUSB0"] = {{"driver", "ftdi_sio"}, {"usb", "0403:6001"}};
  EXPECT_EQ(Parsed(h.Run({"ports", "--json"})),
            json::parse(R"({"format": 1, "source": "system", "ports": [
                {"name": "/dev/ttyS0", "details": {}},
                {"name": "/dev/ttyUSB0", "details": {"driver": "ftdi_sio", "usb": "0403:6001"}}]})"));
  EXPECT_EQ(Parsed(h.Run({"-p", "/tmp/a\"b", "ports", "--json"})),
            json::parse(R"({"format": 1, "source": "given", "ports": [{"name": "/tmp/a\"b", "details": {}}]})"));
  h.port_list.listing.status = PortListing::Status::kCantQuery;
  h.port_list.fallback = {"/dev/ttyUSB1"};
  const CliRun fallback = h.Run({"ports", "--json"});
  EXPECT_NE(fallback.err, "");
  EXPECT_EQ(Parsed(fallback)["source"], "fallback");
}

TEST_F(CliJson, IfOlderUpdatesOnlyAnOlderAdapter) {
  auto& m = Attach(BuiltInImage().version());
  const std::vector<uint8_t> before(m.flash().begin(), m.flash().end());
  const CliRun run = h.Run({"update", "-y", "--if-older"});
  EXPECT_EQ(run.status, 0);
  const auto lines = Lines(run.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().substr(0, 10), " Firmware ");
  EXPECT_NE(lines.back().find(": nothing updated (--if-older)"), std::string::npos);
  // Said on stderr as well, and there alone with -q.
  const std::string nothing = "brivelton: nothing to do: the adapter's firmware " +
                              VersionText(BuiltInImage().version()) + " is not older than " +
                              VersionText(BuiltInImage().version()) + " (--if-older)\n";
  EXPECT_EQ(run.err, nothing);
  const CliRun quiet = h.Run({"-q", "update", "-y", "--if-older"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, nothing);
  EXPECT_EQ(std::vector<uint8_t>(m.flash().begin(), m.flash().end()), before);
  EXPECT_EQ(FramesOf(BootHandshake) + FramesOf(FlashErase), 0);

  CliHarness older;
  sim::VirtualAdapter adapter(older.virtual_ports, kJsonPort);  // 1FF
  older.port_list.listing.entries.emplace_back(kJsonPort);
  const CliRun updated = older.Run({"update", "--yes", "--if-older"});
  EXPECT_EQ(updated.status, 0);
  EXPECT_EQ(Lines(updated.out).back(), "Firmware update done. Please re-pair device.");
  EXPECT_EQ(adapter.model().version(), BuiltInImage().version());
}

TEST_F(CliJson, VersionQuietShortOptionsAndThePortVariable) {
  const std::string versions = "brivelton " + std::string(ProgramVersion()) +
                               "\nbuilt-in firmware " + VersionText(BuiltInImage().version());
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--version"}, {"-V"}, {"check", "-V"}, {"-p", "x", "--version"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const CliRun run = h.Run(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.substr(0, versions.size()), versions);
    EXPECT_EQ(Lines(run.out).size(), 2u);
    EXPECT_TRUE(h.Untouched());
  }

  Attach(BuiltInImage().version());
  const CliRun quiet = h.Run({"-q", "check"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out + quiet.err, "");
  const CliRun values = h.Run({"settings", "--quiet"});
  EXPECT_EQ(values.status, 0);
  EXPECT_EQ(Lines(values.out).size(), 10u);
  EXPECT_EQ(Lines(values.out)[0], "caller-id=off");

  // The variable names the ports when no --port does; --port wins.
  h.virtual_ports.AddPort("/dev/ttyS4", nullptr);
  h.port_environment = " /dev/ttyS4,,/dev/ttyUSB0 ";
  const size_t opened = h.ports.opened.size();
  const int lists = h.port_list.lists;
  EXPECT_EQ(h.Run({"check"}).status, 0);
  EXPECT_EQ(h.port_list.lists, lists);
  ASSERT_GE(h.ports.opened.size(), opened + 2);
  EXPECT_EQ(h.ports.opened[opened], "/dev/ttyS4");
  EXPECT_EQ(h.ports.opened[opened + 1], kJsonPort);
  EXPECT_EQ(h.Run({"ports"}).out, "/dev/ttyS4\n/dev/ttyUSB0\n");
  EXPECT_EQ(h.Run({"-p", "/dev/ttyUSB9", "ports"}).out, "/dev/ttyUSB9\n");
  h.port_environment = "";
  EXPECT_EQ(h.Run({"ports"}).out, kJsonPort + std::string("\n"));
}

}  // namespace
}  // namespace brivelton::testing

namespace brivelton::testing {
namespace {

// `update --json` and the exit status of each way an update ends, in virtual
// time (twenty failed attempts and their pauses take no real time).
struct UpdateRow {
  const char* name;
  sim::AdapterConfig adapter;
  bool attached = true;
  std::vector<std::string> args;
  // The journal as the run finds it: entries by address and port.
  std::vector<std::pair<std::string, BtAddressBytes>> saved;
  bool journal_refuses = false;
  int status;
  const char* outcome;
  int attempts;
  std::optional<uint32_t> after;
  std::optional<std::string> address;
  std::optional<std::string> source;
  std::optional<std::string> journal;  // "kept", "removed"
};

sim::AdapterConfig AdapterWith(void (*change)(sim::AdapterConfig&)) {
  sim::AdapterConfig config;
  change(config);
  return config;
}

TEST(CliUpdateJson, EachEndingHasItsStatusAndItsObject) {
  const std::string own = "00:1B:DC:0F:21:7E";
  const uint32_t image = BuiltInImage().version();
  const sim::AdapterConfig blank =
      AdapterWith([](sim::AdapterConfig& c) { c.blank_identity = true; });
  const UpdateRow rows[] = {
      {"success", {}, true, {"update", "--yes"}, {}, false, cli::kExitDone, "updated", 1, image,
       own, "page", "removed"},
      {"--if-older with nothing to do",
       AdapterWith([](sim::AdapterConfig& c) { c.version = BuiltInImage().version(); }), true,
       {"update", "--yes", "--if-older"}, {}, false, cli::kExitDone, "up-to-date", 0, image,
       std::nullopt, std::nullopt, std::nullopt},
      {"no adapter", {}, false, {"update", "--yes"}, {}, false, cli::kExitNoAdapter,
       "not-found", 0, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {"no --yes without a terminal", {}, true, {"update"}, {}, false, cli::kExitCancelled,
       "cancelled", 0, 0x1FF, std::nullopt, std::nullopt, std::nullopt},
      {"twenty failed attempts",
       AdapterWith([](sim::AdapterConfig& c) { c.faults.wrong_checksum = true; }), true,
       {"update", "--yes"}, {}, false, cli::kExitFailed, "failed", 20, std::nullopt, own, "page",
       "kept"},
      {"the address can't be saved", {}, true, {"update", "--yes"}, {}, true, cli::kExitRefused,
       "refused", 1, 0x1FF, own, "page", std::nullopt},
      {"a blank page and --address", blank, true,
       {"update", "--yes", "--address", "00AABB112233"}, {}, false, cli::kExitDone, "updated", 1,
       image, "00:AA:BB:11:22:33", "given", "removed"},
      {"a blank page and its saved entry", blank, true, {"update", "--yes"},
       {{kJsonPort, {0x00, 0x1B, 0xDC, 0x0F, 0x21, 0x7E}}}, false, cli::kExitDone, "updated", 1,
       image, own, "saved", "removed"},
      {"a blank page and nothing saved", blank, true, {"update", "--yes"}, {}, false,
       cli::kExitDone, "updated", 1, image, "00:01:00:03:04:06", "start-up", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CliHarness h;
    MemoryStateStore store;
    store.refuse_writes = row.journal_refuses;
    h.platform.state = &store;
    for (const auto& [port, address] : row.saved)
      store.files[JournalFileName(address)] = FormatJournalEntry({port, address, "", "t"});
    std::unique_ptr<sim::VirtualAdapter> adapter;
    if (row.attached)
      adapter = std::make_unique<sim::VirtualAdapter>(h.virtual_ports, kJsonPort, row.adapter);
    h.port_list.listing.entries.emplace_back(kJsonPort);
    std::vector<std::string> args = row.args;
    args.push_back("--json");
    const CliRun run = h.Run(args);
    EXPECT_EQ(run.status, row.status);
    const json j = Parsed(run);
    EXPECT_EQ(j["found"], row.attached);
    EXPECT_EQ(j["outcome"], row.outcome);
    EXPECT_EQ(j["attempts"], row.attempts);
    if (row.attached) {
      EXPECT_EQ(j["firmware_version_number"], row.adapter.version);
    }
    EXPECT_EQ(j["firmware_version_after_number"], row.after ? json(*row.after) : json(nullptr));
    EXPECT_EQ(j["address"], row.address ? json(*row.address) : json(nullptr));
    EXPECT_EQ(j["address_source"], row.source ? json(*row.source) : json(nullptr));
    if (row.journal) {
      EXPECT_EQ(j["journal"]["entry"], *row.journal);
      const std::string file = "/state/" + JournalFileName(*ParseBtAddress(*row.address));
      EXPECT_EQ(j["journal"]["file"], file);
      EXPECT_EQ(store.files.contains(JournalFileName(*ParseBtAddress(*row.address))),
                *row.journal == "kept");
    } else {
      EXPECT_TRUE(j["journal"].is_null()) << j["journal"];
    }
    EXPECT_TRUE(j["seconds"].is_number());
    EXPECT_EQ(j.size(), 15u) << j;
    // Nothing goes to stdout but the object, and the log lands on stderr.
    EXPECT_EQ(run.err.rfind(" Search Device ...\n", 0), 0u) << run.err;
  }
}

// The attempts as the tool tells them on stderr: each failure with its
// reason and the pause, the bar's stage lines starting over, and after the
// last one where the address is kept and what to run; stdout keeps the log.
TEST(CliUpdateAttempts, FailuresAreToldBesideTheLogAndTheLastOneSaysWhatToDo) {
  CliHarness h;
  MemoryStateStore store;
  h.platform.state = &store;
  sim::AdapterConfig config;
  config.faults.wrong_checksum = true;
  sim::VirtualAdapter adapter(h.virtual_ports, kJsonPort, config);
  h.port_list.listing.entries.emplace_back(kJsonPort);
  const uint64_t started = h.clock.NowMs();
  const CliRun run = h.Run({"update", "--yes"});
  EXPECT_EQ(run.status, cli::kExitFailed);
  EXPECT_GE(h.clock.NowMs() - started, 19u * kAttemptPauseMs);
  EXPECT_EQ(run.out.find("Attempt"), std::string::npos);
  EXPECT_EQ(Lines(run.out).back(), "Update failed. Please unplug the device and try again.");
  std::vector<std::string> told;
  int erasing = 0;
  for (const auto& line : Lines(run.err)) {
    if (line.starts_with("Erasing 3% (1/30)")) ++erasing;
    if (!IsProgressLine(line)) told.push_back(line);
  }
  EXPECT_EQ(erasing, 20);  // every attempt starts its progress over
  ASSERT_EQ(told.size(), 22u) << run.err;
  for (int i = 1; i < 20; ++i)
    EXPECT_EQ(told[static_cast<size_t>(i - 1)],
              "Attempt " + std::to_string(i) +
                  " of 20 failed: the checksum did not match. Trying again in 3 s. Do not "
                  "unplug the adapter.");
  EXPECT_EQ(told[19], "Attempt 20 of 20 failed: the checksum did not match.");
  EXPECT_EQ(told[20],
            "brivelton: the update failed after 20 attempts: the adapter has no working "
            "firmware. Its Bluetooth address 00:1B:DC:0F:21:7E is saved at "
            "/state/identity-001BDC0F217E. To try again, run:");
  EXPECT_EQ(told[21], std::string("  brivelton --port ") + kJsonPort + " update");

  // With -q only the closing paragraph.
  CliHarness quiet;
  quiet.platform.state = &store;
  sim::VirtualAdapter failing(quiet.virtual_ports, kJsonPort, config);
  const CliRun q = quiet.Run({"-q", "--port", kJsonPort, "update", "--yes"});
  EXPECT_EQ(q.status, cli::kExitFailed);
  EXPECT_EQ(Lines(q.err).size(), 2u) << q.err;
}

// A port whose name the shell would split or expand is quoted in the command.
TEST(CliUpdateAttempts, TheCommandToRunQuotesAPortNameTheShellWouldSplit) {
  CliHarness h;
  const std::string port = "/dev/serial/by-id/usb-A B's";
  sim::AdapterConfig config;
  config.faults.wrong_checksum = true;
  sim::VirtualAdapter adapter(h.virtual_ports, port, config);
  const CliRun run = h.Run({"-q", "--port", port, "update", "--yes"});
  EXPECT_EQ(run.status, cli::kExitFailed);
  EXPECT_TRUE(run.err.ends_with("\n  brivelton --port '/dev/serial/by-id/usb-A B'\\''s' update\n"))
      << run.err;
}

}  // namespace
}  // namespace brivelton::testing
