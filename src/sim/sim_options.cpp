// SPDX-License-Identifier: MIT
#include "sim/sim_options.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "link/bt_address.h"
#include "link/frames.h"
#include "options/option_table.h"
#include "resources/firmware_image.h"
#include "resources/hex_text.h"

namespace brivelton::sim {

namespace {

std::optional<long long> Integer(const std::string& text, int base = 0) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, base);
  if (errno || *end != '\0') return std::nullopt;
  return value;
}

std::optional<double> Real(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno || *end != '\0') return std::nullopt;
  return value;
}

// A kind by its catalogue name or its number.
std::optional<CommandKind> Kind(const std::string& text) {
  const auto number = Integer(text, 10);
  for (const CommandEntry& command : CommandCatalogue())
    if (text == command.name || number == KindNumber(command.kind)) return command.kind;
  return std::nullopt;
}

constexpr std::pair<const char*, UpdateStep> kSteps[] = {
    {"link-check", UpdateStep::kLinkCheck},   {"handshake", UpdateStep::kHandshake},
    {"set-baud", UpdateStep::kSetBaud},       {"identity-read", UpdateStep::kIdentityRead},
    {"unlock", UpdateStep::kUnlock},          {"erase", UpdateStep::kErase},
    {"page-write", UpdateStep::kPageWrite},   {"identity-write", UpdateStep::kIdentityWrite},
    {"checksum", UpdateStep::kChecksum},      {"restart", UpdateStep::kRestart},
};

// Every device time: what --timing sets, what --time-scale scales.
constexpr std::pair<const char*, uint64_t Timing::*> kDeviceTimes[] = {
    {"erase-64k", &Timing::erase_64k_us},    {"erase-4k", &Timing::erase_4k_us},
    {"page-program", &Timing::page_program_us}, {"checksum", &Timing::checksum_us},
    {"page-read", &Timing::page_read_us},    {"restart", &Timing::restart_us},
    {"latency", &Timing::reply_latency_us},
};
// A time added to Timing but not to the table would escape --time-scale.
static_assert(sizeof(Timing) == std::size(kDeviceTimes) * sizeof(uint64_t));

bool ReadFile(const std::string& path, size_t max, std::vector<uint8_t>& out,
              std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (out.size() > max) {
    error = path + " holds " + std::to_string(out.size()) + " bytes; at most " +
            std::to_string(max) + " fit";
    return false;
  }
  return true;
}

// "KEY=VALUE" split at the first '='.
bool Pair(const std::string& text, std::string& key, std::string& value) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  key = text.substr(0, eq);
  value = text.substr(eq + 1);
  return true;
}

// A value as given to the option `name`, and where a complaint about it goes.
struct Given {
  const char* name;
  const std::string& value;
  std::string& error;

  bool Fail(const std::string& text) {
    error = text;
    return false;
  }
  bool Path(std::string& out) {
    out = value;
    return !out.empty() || Fail(name + std::string(" needs a path"));
  }
  template <class T>
  bool Hex3(T& out) {
    const auto version = ParseVersionText(value);
    if (!version) return IsNot("one to three hexadecimal digits");
    out = *version;
    return true;
  }
  bool Count(int& out) {
    const auto n = Integer(value, 10);
    if (!n || *n < 0 || *n > 1'000'000) return IsNot("a count");
    out = static_cast<int>(*n);
    return true;
  }
  bool Factor(double& out) {
    const auto f = Real(value);
    if (!f || !(*f >= 0) || *f > 1000) return IsNot("a factor from 0 to 1000");
    out = *f;
    return true;
  }
  bool Rate(double& out) {
    const auto r = Real(value);
    if (!r || !(*r >= 0 && *r <= 1)) return IsNot("a rate from 0 to 1");
    out = *r;
    return true;
  }
  bool KindCount(std::map<CommandKind, int>& out) {
    std::string kind_text, count_text;
    const auto kind = Pair(value, kind_text, count_text) ? Kind(kind_text) : std::nullopt;
    const auto count = kind ? Integer(count_text, 10) : std::nullopt;
    if (!kind) return IsNot("KIND=N with a known kind");
    if (!count || *count < 0 || *count > 1'000'000'000)
      return Fail(BadIn("count"));
    out[*kind] = static_cast<int>(*count);
    return true;
  }
  // "--seed: '-1' is not a number"
  bool IsNot(const char* what) { return Fail(Quoted() + " is not " + what); }
  // "--param: bad value in '4=x'"
  std::string BadIn(const char* what) const {
    return name + std::string(": bad ") + what + " in '" + value + "'";
  }
  std::string Quoted() const { return name + std::string(": '") + value + "'"; }
};

using Take = bool (*)(SimOptions& options, const std::string& value, std::string& error);

bool Set(bool& flag) { return flag = true; }

bool TakeAddress(SimOptions& o, const std::string& value, std::string& error) {
  std::string hex;
  for (char c : value)
    if (c != ':' && c != '-') hex += c;
  const auto address = hex.size() == 12 ? ParseBtAddress(hex) : std::nullopt;
  Given given{"--address", value, error};
  if (!address) return given.IsNot("six hexadecimal bytes");
  o.config.bt_address = *address;
  return true;
}

bool TakeFlash(SimOptions& o, const std::string& path, std::string& error) {
  std::vector<uint8_t>& flash = o.config.flash;
  if (!ReadFile(path, kFlashSize, flash, error)) return false;
  if (flash.empty()) error = path + " is empty";
  return error.empty();
}

bool TakeImage(SimOptions& o, const std::string& path, std::string& error) {
  std::vector<uint8_t>& image = o.config.image;
  if (!ReadFile(path, kImageEnd, image, error)) return false;
  if (image.size() != kImageEnd)
    error = path + " holds " + std::to_string(image.size()) + " bytes; an image holds " +
            std::to_string(kImageEnd);
  return error.empty();
}

bool TakeParam(SimOptions& o, const std::string& value, std::string& error) {
  Given given{"--param", value, error};
  std::string op_text, value_text;
  const auto op = Pair(value, op_text, value_text) ? Integer(op_text, 10) : std::nullopt;
  const auto raw = op ? Integer(value_text) : std::nullopt;
  if (!op || *op < 1 || *op > 10)
    return given.IsNot("OP=VALUE with OP 1 to 10");
  if (!raw || *raw < 0 || *raw > 0xFFFFFFFFll)
    return given.Fail(given.BadIn("value"));
  o.config.params[static_cast<int>(*op)] = static_cast<uint32_t>(*raw);
  return true;
}

bool TakeBootEntry(SimOptions& o, const std::string& value, std::string& error) {
  Given given{"--boot-entry", value, error};
  if (value == "handshake") o.config.boot_entry = BootEntry::kHandshake;
  else if (value == "bursts") o.config.boot_entry = BootEntry::kBursts;
  else return given.Fail(given.Quoted() + " is neither handshake nor bursts");
  return true;
}

bool TakeTiming(SimOptions& o, const std::string& value, std::string& error) {
  Given given{"--timing", value, error};
  std::string key, us_text;
  const auto us = Pair(value, key, us_text) ? Integer(us_text, 10) : std::nullopt;
  if (!us || *us < 0) return given.IsNot("NAME=MICROSECONDS");
  for (const auto& [time_name, member] : kDeviceTimes)
    if (key == time_name) {
      o.config.timing.*member = static_cast<uint64_t>(*us);
      return true;
    }
  return given.Fail("--timing: unknown device time '" + key + "'");
}

// The bridges the adapter may sit behind. An FTDI bridge sends 62 bytes of
// data a USB packet and holds a short one for its latency timer: 16 ms, or
// 1 ms once the host asks for low latency, which only a virtual port can
// tell the simulator; "ftdi-low-latency" stands for the request honoured.
constexpr Bridge kBridges[] = {
    {.name = "none"},
    {.name = "ftdi", .packet_bytes = 62, .hold_us = 16'000, .low_latency_hold_us = 1'000},
    {.name = "ftdi-low-latency", .packet_bytes = 62, .hold_us = 16'000,
     .low_latency_hold_us = 1'000, .low_latency = true},
};

bool TakeBridge(SimOptions& o, const std::string& value, std::string& error) {
  for (const Bridge& bridge : kBridges)
    if (value == bridge.name) {
      o.config.bridge = bridge;
      return true;
    }
  Given given{"--bridge", value, error};
  return given.Fail(given.Quoted() + " is none of none, ftdi, ftdi-low-latency");
}

bool TakeSeed(SimOptions& o, const std::string& value, std::string& error) {
  Given given{"--seed", value, error};
  const auto n = Integer(value);
  if (!n || *n < 0 || *n > 0xFFFFFFFFll) return given.IsNot("a number");
  o.config.faults.seed = static_cast<uint32_t>(*n);
  return true;
}

bool TakeHangupAfterBytes(SimOptions& o, const std::string& value, std::string& error) {
  Given given{"--hangup-after-bytes", value, error};
  const auto n = Integer(value, 10);
  if (!n || *n < 1) return given.IsNot("a positive count");
  o.config.faults.hangup_after_bytes = *n;
  return true;
}

bool TakeHangupStep(SimOptions& o, const std::string& value, std::string& error) {
  Given given{"--hangup-step", value, error};
  const size_t colon = value.find(':');
  const std::string step_name = value.substr(0, colon);
  const auto* step = std::find_if(std::begin(kSteps), std::end(kSteps),
                                  [&](const auto& row) { return step_name == row.first; });
  if (step == std::end(kSteps)) return given.Fail("--hangup-step: unknown step '" + step_name + "'");
  Faults& faults = o.config.faults;
  faults.hangup_step = step->second;
  faults.hangup_index = 0;
  if (colon != std::string::npos) {
    const auto index = Integer(value.substr(colon + 1), 10);
    if (!index || *index < 0 || *index > 255)
      return given.Fail(given.BadIn("index"));
    faults.hangup_index = static_cast<int>(*index);
  }
  return true;
}

// Where an option shows in the usage text: on a line of its own with its help
// in a column, or among the faults, starting a line or run on after the one
// before it.
enum class Placed { kOwnLine, kFaultLine, kSameFaultLine };
// A list of names the usage spells out after an option.
enum class Listing { kNone, kDeviceTimes, kSteps };

// An option as the parser takes it, and where the usage shows it.
struct SimOption {
  Option<SimOptions> option;
  Placed placed;
  Listing listing;
};

// Nothing completes the simulator's options: every value is text to it.
constexpr SimOption Row(const char* name, const char* value, Placed placed, const char* help,
                        Take take, Listing listing = Listing::kNone,
                        const char* short_name = nullptr) {
  return {{name, short_name, value, value ? OptionValue::kText : OptionValue::kNone, "a value",
           take, help},
          placed, listing};
}

using enum Placed;

constexpr SimOption kRows[] = {
    Row("--link", "PATH", kOwnLine, "keep a symlink PATH to the terminal",
        [](auto& o, auto& v, auto& e) { return Given{"--link", v, e}.Path(o.link); }),
    Row("--version", "HEX", kOwnLine, "firmware version of the old image (default 1FF)",
        [](auto& o, auto& v, auto& e) { return Given{"--version", v, e}.Hex3(o.config.version); }),
    Row("--image", "FILE", kOwnLine, "image whose presence in flash reports --image-version",
        TakeImage),
    Row("--image-version", "HEX", kOwnLine, "(default: the built-in image's version)",
        [](auto& o, auto& v, auto& e) {
          return Given{"--image-version", v, e}.Hex3(o.config.image_version);
        }),
    Row("--address", "HEX12", kOwnLine, "Bluetooth address, e.g. 001BDC0F217E", TakeAddress),
    Row("--blank-identity", nullptr, kOwnLine, "identity page all FF",
        [](auto& o, auto&, auto&) { return Set(o.config.blank_identity); }),
    Row("--flash", "FILE", kOwnLine, "flash contents (up to 1 MiB, padded with FF)", TakeFlash),
    Row("--param", "OP=VALUE", kOwnLine, "raw stored parameter value, op 1 to 10", TakeParam),
    Row("--boot-entry", "handshake|bursts", kOwnLine, "", TakeBootEntry),
    Row("--timing", "NAME=US", kOwnLine, "", TakeTiming, Listing::kDeviceTimes),
    Row("--bridge", "none|ftdi|ftdi-low-latency", kOwnLine, "", TakeBridge),
    Row("--time-scale", "F", kOwnLine, "multiply device times by F (default 1)",
        [](auto& o, auto& v, auto& e) { return Given{"--time-scale", v, e}.Factor(o.time_scale); }),
    Row("--wire-scale", "F", kOwnLine, "multiply the host's byte time by F (default 1)",
        [](auto& o, auto& v, auto& e) { return Given{"--wire-scale", v, e}.Factor(o.wire_scale); }),
    Row("--dump-flash", "FILE", kOwnLine, "write the flash at exit",
        [](auto& o, auto& v, auto& e) { return Given{"--dump-flash", v, e}.Path(o.dump_flash); }),
    Row("--dump-params", "FILE", kOwnLine, "write the parameters as op=value lines at exit",
        [](auto& o, auto& v, auto& e) { return Given{"--dump-params", v, e}.Path(o.dump_params); }),
    Row("--dump-stray", "FILE", kOwnLine, "write the bytes heard that were no frame",
        [](auto& o, auto& v, auto& e) { return Given{"--dump-stray", v, e}.Path(o.dump_stray); }),
    Row("--seed", "N", kFaultLine, "", TakeSeed),
    Row("--silent", nullptr, kSameFaultLine, "",
        [](auto& o, auto&, auto&) { return Set(o.config.faults.silent); }),
    Row("--busy", nullptr, kSameFaultLine, "",
        [](auto& o, auto&, auto&) { return Set(o.config.faults.busy); }),
    Row("--wrong-checksum", nullptr, kSameFaultLine, "",
        [](auto& o, auto&, auto&) { return Set(o.config.faults.wrong_checksum); }),
    Row("--short-checksum", nullptr, kSameFaultLine, "",
        [](auto& o, auto&, auto&) { return Set(o.config.faults.short_checksum); }),
    Row("--wrong-identity", "N", kFaultLine, "(identity page stored wrong N times)",
        [](auto& o, auto& v, auto& e) {
          return Given{"--wrong-identity", v, e}.Count(o.config.faults.wrong_identity_writes);
        }),
    Row("--no-version-marker", nullptr, kFaultLine, "",
        [](auto& o, auto&, auto&) { return Set(o.config.faults.version_without_marker); }),
    Row("--bad-param-ack", nullptr, kSameFaultLine, "",
        [](auto& o, auto&, auto&) { return Set(o.config.faults.bad_param_ack); }),
    Row("--extra-bytes", "N", kSameFaultLine, "",
        [](auto& o, auto& v, auto& e) {
          return Given{"--extra-bytes", v, e}.Count(o.config.faults.extra_bytes);
        }),
    Row("--ignore", "KIND=N", kFaultLine, "",
        [](auto& o, auto& v, auto& e) {
          return Given{"--ignore", v, e}.KindCount(o.config.faults.ignore_kind);
        }),
    Row("--short", "KIND=N", kSameFaultLine, "",
        [](auto& o, auto& v, auto& e) {
          return Given{"--short", v, e}.KindCount(o.config.faults.short_reply_kind);
        }),
    Row("--short-bytes", "N", kSameFaultLine, "(KIND: number or name)",
        [](auto& o, auto& v, auto& e) {
          return Given{"--short-bytes", v, e}.Count(o.config.faults.short_reply_bytes);
        }),
    Row("--drop-rate", "R", kFaultLine, "",
        [](auto& o, auto& v, auto& e) {
          return Given{"--drop-rate", v, e}.Rate(o.config.faults.drop_rate);
        }),
    Row("--flip-rate", "R", kSameFaultLine, "(per byte, 0 to 1)",
        [](auto& o, auto& v, auto& e) {
          return Given{"--flip-rate", v, e}.Rate(o.config.faults.flip_rate);
        }),
    Row("--hangup-after-bytes", "N", kFaultLine, "", TakeHangupAfterBytes),
    Row("--hangup-step", "STEP[:INDEX]", kSameFaultLine, "", TakeHangupStep, Listing::kSteps),
    Row("--hangup-count", "N", kSameFaultLine, "",
        [](auto& o, auto& v, auto& e) {
          return Given{"--hangup-count", v, e}.Count(o.config.faults.hangup_count);
        }),
    Row("--verbose", nullptr, kOwnLine, "log each frame on stderr",
        [](auto& o, auto&, auto&) { return Set(o.verbose); }),
    Row("--help", nullptr, kOwnLine, "", [](auto& o, auto&, auto&) { return Set(o.help); },
        Listing::kNone, "-h"),
};

// The rows as the parser reads them.
constexpr auto kOptions = [] {
  std::array<Option<SimOptions>, std::size(kRows)> options{};
  for (size_t i = 0; i < options.size(); ++i) options[i] = kRows[i].option;
  return options;
}();

// The names of `table` after `lead`, as many to a line as fit, each further
// line indented to where the first name began.
template <class Table>
std::string NamesAfter(const std::string& lead, const Table& table, const char* separator) {
  std::string names;
  for (const auto& [name, value] : table) {
    if (!names.empty()) names += separator;
    names += name;
  }
  std::string text = Wrapped(names, lead.size(), 76);
  return text.replace(0, lead.size(), lead);
}

std::string Usage() {
  constexpr size_t kHelpColumn = 28;
  std::string text =
      "usage: brivelton-sim [options]\n"
      "Serves a simulated adapter on a pseudo-terminal; prints the terminal's path.\n";
  std::string fault_line, after_it;
  auto end_fault_line = [&] {
    if (!fault_line.empty()) text += fault_line + "\n" + after_it;
    fault_line.clear();
    after_it.clear();
  };
  bool faults_begun = false;
  for (const auto& [option, placed, listing] : kRows) {
    const std::string help = option.help;
    switch (placed) {
      case kOwnLine: {
        end_fault_line();
        std::string lead = "  " + Shown(option);
        if (listing == Listing::kDeviceTimes) {
          lead.resize(kHelpColumn, ' ');
          text += NamesAfter(lead, kDeviceTimes, ", ");
        } else {
          text += help.empty() ? lead + "\n" : HelpRow(Shown(option), help, kHelpColumn);
        }
        continue;
      }
      case kFaultLine:
        end_fault_line();
        if (!faults_begun) text += "faults:\n";
        faults_begun = true;
        fault_line = "  " + Shown(option);
        break;
      case kSameFaultLine:
        fault_line += "  " + Shown(option);
        break;
    }
    if (!help.empty()) fault_line += "   " + help;
    if (listing == Listing::kSteps) after_it = NamesAfter("      STEP: ", kSteps, " ");
  }
  end_fault_line();
  return text;
}

std::string Unknown(const std::string& arg) { return "unknown option '" + arg + "' (see --help)"; }

}  // namespace

const char* SimUsage() {
  static const std::string usage = Usage();
  return usage.c_str();
}

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options,
                     std::string& error) {
  return TakeOptions<SimOptions>(
      kOptions, args, options, error,
      {Unknown, [](const Option<SimOptions>& o) { return o.name + std::string(" takes no value"); },
       [](const Option<SimOptions>& o) { return o.name + std::string(" needs a value"); }});
}

void ScaleTiming(Timing& timing, double factor) {
  for (const auto& [name, member] : kDeviceTimes)
    timing.*member = static_cast<uint64_t>(static_cast<double>(timing.*member) * factor + 0.5);
}

std::string ParamsText(const DeviceModel& model) {
  std::string text;
  for (int op = 1; op <= 10; ++op)
    text += std::to_string(op) + "=" + std::to_string(model.param(op)) + "\n";
  return text;
}

}  // namespace brivelton::sim
