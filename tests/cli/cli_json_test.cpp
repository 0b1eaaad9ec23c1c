// SPDX-License-Identifier: MIT
// What scripts rely on: --json's one object per command (parsed here, every
// form), --if-older, --version, --quiet, the short options and
// $BRIVELTON_PORT, on a simulated adapter in virtual time.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "app/command_line.h"
#include "cli/exit_status.h"
#include "cli_harness.h"
#include "link/frames.h"
#include "resources/firmware_image.h"
#include "sim/virtual_adapter.h"
#include "support/scratch_dir.h"

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
