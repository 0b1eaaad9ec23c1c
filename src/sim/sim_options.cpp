// SPDX-License-Identifier: MIT
#include "sim/sim_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "link/bt_address.h"
#include "link/frames.h"
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

// One option as given: its name, its value (empty for a switch), and where
// the result and any complaint go.
struct Arg {
  const std::string& name;
  const std::string& value;
  SimOptions& options;
  std::string& error;

  AdapterConfig& config() { return options.config; }
  Faults& faults() { return options.config.faults; }

  bool Fail(const std::string& text) {
    error = text;
    return false;
  }
  bool Path(std::string& out) {
    out = value;
    return !out.empty() || Fail(name + " needs a path");
  }
  template <class T>
  bool Hex3(T& out) {
    const auto version = ParseVersionText(value);
    if (!version) return Fail(name + ": '" + value + "' is not one to three hexadecimal digits");
    out = *version;
    return true;
  }
  bool Count(int& out) {
    const auto n = Integer(value, 10);
    if (!n || *n < 0 || *n > 1'000'000) return Fail(name + ": '" + value + "' is not a count");
    out = static_cast<int>(*n);
    return true;
  }
  bool Factor(double& out) {
    const auto f = Real(value);
    if (!f || !(*f >= 0) || *f > 1000)
      return Fail(name + ": '" + value + "' is not a factor from 0 to 1000");
    out = *f;
    return true;
  }
  bool Rate(double& out) {
    const auto r = Real(value);
    if (!r || !(*r >= 0 && *r <= 1))
      return Fail(name + ": '" + value + "' is not a rate from 0 to 1");
    out = *r;
    return true;
  }
  bool KindCount(std::map<CommandKind, int>& out) {
    std::string kind_text, count_text;
    const auto kind = Pair(value, kind_text, count_text) ? Kind(kind_text) : std::nullopt;
    const auto count = kind ? Integer(count_text, 10) : std::nullopt;
    if (!kind) return Fail(name + ": '" + value + "' is not KIND=N with a known kind");
    if (!count || *count < 0 || *count > 1'000'000'000)
      return Fail(name + ": bad count in '" + value + "'");
    out[*kind] = static_cast<int>(*count);
    return true;
  }
};

bool Set(bool& flag) {
  flag = true;
  return true;
}

bool TakeAddress(Arg& a) {
  std::string hex;
  for (char c : a.value)
    if (c != ':' && c != '-') hex += c;
  const auto address = hex.size() == 12 ? ParseBtAddress(hex) : std::nullopt;
  if (!address) return a.Fail("--address: '" + a.value + "' is not six hexadecimal bytes");
  a.config().bt_address = *address;
  return true;
}

bool TakeFlash(Arg& a) {
  std::vector<uint8_t>& flash = a.config().flash;
  if (!ReadFile(a.value, kFlashSize, flash, a.error)) return false;
  return !flash.empty() || a.Fail(a.value + " is empty");
}

bool TakeImage(Arg& a) {
  std::vector<uint8_t>& image = a.config().image;
  if (!ReadFile(a.value, kImageEnd, image, a.error)) return false;
  if (image.size() != kImageEnd)
    return a.Fail(a.value + " holds " + std::to_string(image.size()) + " bytes; an image holds " +
                  std::to_string(kImageEnd));
  return true;
}

bool TakeParam(Arg& a) {
  std::string op_text, value_text;
  const auto op = Pair(a.value, op_text, value_text) ? Integer(op_text, 10) : std::nullopt;
  const auto raw = op ? Integer(value_text) : std::nullopt;
  if (!op || *op < 1 || *op > 10)
    return a.Fail("--param: '" + a.value + "' is not OP=VALUE with OP 1 to 10");
  if (!raw || *raw < 0 || *raw > 0xFFFFFFFFll)
    return a.Fail("--param: bad value in '" + a.value + "'");
  a.config().params[static_cast<int>(*op)] = static_cast<uint32_t>(*raw);
  return true;
}

bool TakeBootEntry(Arg& a) {
  if (a.value == "handshake") a.config().boot_entry = BootEntry::kHandshake;
  else if (a.value == "bursts") a.config().boot_entry = BootEntry::kBursts;
  else return a.Fail("--boot-entry: '" + a.value + "' is neither handshake nor bursts");
  return true;
}

bool TakeTiming(Arg& a) {
  std::string key, us_text;
  const auto us = Pair(a.value, key, us_text) ? Integer(us_text, 10) : std::nullopt;
  if (!us || *us < 0) return a.Fail("--timing: '" + a.value + "' is not NAME=MICROSECONDS");
  for (const auto& [time_name, member] : kDeviceTimes)
    if (key == time_name) {
      a.config().timing.*member = static_cast<uint64_t>(*us);
      return true;
    }
  return a.Fail("--timing: unknown device time '" + key + "'");
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

bool TakeBridge(Arg& a) {
  for (const Bridge& bridge : kBridges)
    if (a.value == bridge.name) {
      a.config().bridge = bridge;
      return true;
    }
  return a.Fail("--bridge: '" + a.value + "' is none of none, ftdi, ftdi-low-latency");
}

bool TakeSeed(Arg& a) {
  const auto n = Integer(a.value);
  if (!n || *n < 0 || *n > 0xFFFFFFFFll) return a.Fail("--seed: '" + a.value + "' is not a number");
  a.faults().seed = static_cast<uint32_t>(*n);
  return true;
}

bool TakeHangupAfterBytes(Arg& a) {
  const auto n = Integer(a.value, 10);
  if (!n || *n < 1)
    return a.Fail("--hangup-after-bytes: '" + a.value + "' is not a positive count");
  a.faults().hangup_after_bytes = *n;
  return true;
}

bool TakeHangupStep(Arg& a) {
  const size_t colon = a.value.find(':');
  const std::string step_name = a.value.substr(0, colon);
  const auto* step = std::find_if(std::begin(kSteps), std::end(kSteps),
                                  [&](const auto& row) { return step_name == row.first; });
  if (step == std::end(kSteps)) return a.Fail("--hangup-step: unknown step '" + step_name + "'");
  Faults& faults = a.faults();
  faults.hangup_step = step->second;
  faults.hangup_index = 0;
  if (colon != std::string::npos) {
    const auto index = Integer(a.value.substr(colon + 1), 10);
    if (!index || *index < 0 || *index > 255)
      return a.Fail("--hangup-step: bad index in '" + a.value + "'");
    faults.hangup_index = static_cast<int>(*index);
  }
  return true;
}

// Where an option shows in the usage text: on a line of its own with its help
// in a column, or among the faults, starting a line or run on after the one
// before it.
enum class Shown { kOwnLine, kFaultLine, kSameFaultLine };
// A list of names the usage spells out after an option.
enum class Listing { kNone, kDeviceTimes, kSteps };

struct Option {
  const char* flag;
  const char* value;  // as the usage names it; nullptr for a switch
  Shown shown;
  const char* help;   // the option's column, or a remark ending a fault line
  bool (*take)(Arg&);
  Listing listing = Listing::kNone;
  const char* alias = nullptr;
};

constexpr Option kOptions[] = {
    {"--link", "PATH", Shown::kOwnLine, "keep a symlink PATH to the terminal",
     [](Arg& a) { return a.Path(a.options.link); }},
    {"--version", "HEX", Shown::kOwnLine, "firmware version of the old image (default 1FF)",
     [](Arg& a) { return a.Hex3(a.config().version); }},
    {"--image", "FILE", Shown::kOwnLine, "image whose presence in flash reports --image-version",
     TakeImage},
    {"--image-version", "HEX", Shown::kOwnLine, "(default: the built-in image's version)",
     [](Arg& a) { return a.Hex3(a.config().image_version); }},
    {"--address", "HEX12", Shown::kOwnLine, "Bluetooth address, e.g. 001BDC0F217E", TakeAddress},
    {"--blank-identity", nullptr, Shown::kOwnLine, "identity page all FF",
     [](Arg& a) { return Set(a.config().blank_identity); }},
    {"--flash", "FILE", Shown::kOwnLine, "flash contents (up to 1 MiB, padded with FF)", TakeFlash},
    {"--param", "OP=VALUE", Shown::kOwnLine, "raw stored parameter value, op 1 to 10", TakeParam},
    {"--boot-entry", "handshake|bursts", Shown::kOwnLine, "", TakeBootEntry},
    {"--timing", "NAME=US", Shown::kOwnLine, "", TakeTiming, Listing::kDeviceTimes},
    {"--bridge", "none|ftdi|ftdi-low-latency", Shown::kOwnLine, "", TakeBridge},
    {"--time-scale", "F", Shown::kOwnLine, "multiply device times by F (default 1)",
     [](Arg& a) { return a.Factor(a.options.time_scale); }},
    {"--wire-scale", "F", Shown::kOwnLine, "multiply the host's byte time by F (default 1)",
     [](Arg& a) { return a.Factor(a.options.wire_scale); }},
    {"--dump-flash", "FILE", Shown::kOwnLine, "write the flash at exit",
     [](Arg& a) { return a.Path(a.options.dump_flash); }},
    {"--dump-params", "FILE", Shown::kOwnLine, "write the parameters as op=value lines at exit",
     [](Arg& a) { return a.Path(a.options.dump_params); }},
    {"--dump-stray", "FILE", Shown::kOwnLine, "write how many bytes heard were no frame",
     [](Arg& a) { return a.Path(a.options.dump_stray); }},
    {"--seed", "N", Shown::kFaultLine, "", TakeSeed},
    {"--silent", nullptr, Shown::kSameFaultLine, "", [](Arg& a) { return Set(a.faults().silent); }},
    {"--busy", nullptr, Shown::kSameFaultLine, "", [](Arg& a) { return Set(a.faults().busy); }},
    {"--wrong-checksum", nullptr, Shown::kSameFaultLine, "",
     [](Arg& a) { return Set(a.faults().wrong_checksum); }},
    {"--short-checksum", nullptr, Shown::kSameFaultLine, "",
     [](Arg& a) { return Set(a.faults().short_checksum); }},
    {"--wrong-identity", "N", Shown::kFaultLine, "(identity page stored wrong N times)",
     [](Arg& a) { return a.Count(a.faults().wrong_identity_writes); }},
    {"--no-version-marker", nullptr, Shown::kFaultLine, "",
     [](Arg& a) { return Set(a.faults().version_without_marker); }},
    {"--bad-param-ack", nullptr, Shown::kSameFaultLine, "",
     [](Arg& a) { return Set(a.faults().bad_param_ack); }},
    {"--extra-bytes", "N", Shown::kSameFaultLine, "",
     [](Arg& a) { return a.Count(a.faults().extra_bytes); }},
    {"--ignore", "KIND=N", Shown::kFaultLine, "",
     [](Arg& a) { return a.KindCount(a.faults().ignore_kind); }},
    {"--short", "KIND=N", Shown::kSameFaultLine, "",
     [](Arg& a) { return a.KindCount(a.faults().short_reply_kind); }},
    {"--short-bytes", "N", Shown::kSameFaultLine, "(KIND: number or name)",
     [](Arg& a) { return a.Count(a.faults().short_reply_bytes); }},
    {"--drop-rate", "R", Shown::kFaultLine, "",
     [](Arg& a) { return a.Rate(a.faults().drop_rate); }},
    {"--flip-rate", "R", Shown::kSameFaultLine, "(per byte, 0 to 1)",
     [](Arg& a) { return a.Rate(a.faults().flip_rate); }},
    {"--hangup-after-bytes", "N", Shown::kFaultLine, "", TakeHangupAfterBytes},
    {"--hangup-step", "STEP[:INDEX]", Shown::kSameFaultLine, "", TakeHangupStep, Listing::kSteps},
    {"--hangup-count", "N", Shown::kSameFaultLine, "",
     [](Arg& a) { return a.Count(a.faults().hangup_count); }},
    {"--verbose", nullptr, Shown::kOwnLine, "log each frame on stderr",
     [](Arg& a) { return Set(a.options.verbose); }},
    {"--help", nullptr, Shown::kOwnLine, "", [](Arg& a) { return Set(a.options.help); },
     Listing::kNone, "-h"},
};

const Option* Find(const std::string& name) {
  for (const Option& option : kOptions)
    if (name == option.flag || (option.alias && name == option.alias)) return &option;
  return nullptr;
}

// The names of `table` after `lead`, as many to a line as fit, each further
// line indented to where the first name began.
template <class Table>
std::string Wrapped(std::string lead, const Table& table, bool commas) {
  constexpr size_t kWidth = 76;
  const std::string indent(lead.size(), ' ');
  std::string text, line = std::move(lead);
  for (size_t i = 0; i < std::size(table); ++i) {
    const std::string name = table[i].first;
    if (i == 0) {
      line += name;
      continue;
    }
    if (commas) line += ',';
    if (line.size() + 1 + name.size() > kWidth) {
      text += line + "\n";
      line = indent + name;
    } else {
      line += " " + name;
    }
  }
  return text + line + "\n";
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
  for (const Option& option : kOptions) {
    const std::string shown = option.value ? std::string(option.flag) + " " + option.value
                                           : std::string(option.flag);
    switch (option.shown) {
      case Shown::kOwnLine: {
        end_fault_line();
        std::string line = "  " + shown;
        if (*option.help || option.listing != Listing::kNone) line.resize(kHelpColumn, ' ');
        text += option.listing == Listing::kDeviceTimes ? Wrapped(line, kDeviceTimes, true)
                                                        : line + option.help + "\n";
        continue;
      }
      case Shown::kFaultLine:
        end_fault_line();
        if (!faults_begun) text += "faults:\n";
        faults_begun = true;
        fault_line = "  " + shown;
        break;
      case Shown::kSameFaultLine:
        fault_line += "  " + shown;
        break;
    }
    if (*option.help) fault_line += std::string("   ") + option.help;
    if (option.listing == Listing::kSteps) after_it = Wrapped("      STEP: ", kSteps, false);
  }
  end_fault_line();
  return text;
}

}  // namespace

const char* SimUsage() {
  static const std::string usage = Usage();
  return usage.c_str();
}

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options,
                     std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inline_value;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inline_value = name.substr(eq + 1);
      name.resize(eq);
    }
    const Option* option = Find(name);
    if (!option) {
      error = "unknown option '" + args[i] + "' (see --help)";
      return false;
    }
    std::string value;
    if (!option->value) {
      if (inline_value) {
        error = name + " takes no value";
        return false;
      }
    } else if (inline_value) {
      value = *inline_value;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      error = name + " needs a value";
      return false;
    }
    Arg arg{name, value, options, error};
    if (!option->take(arg)) return false;
  }
  return true;
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
