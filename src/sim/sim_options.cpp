#include "sim/sim_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

#include "link/frames.h"
#include "update/firmware_image.h"

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

std::optional<uint32_t> Version(std::string text) {
  if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text.erase(0, 2);
  if (text.empty() || text.size() > 3 ||
      text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return std::nullopt;
  return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 16));
}

std::optional<int> Kind(const std::string& text) {
  if (auto n = Integer(text, 10); n && *n > 0 && *n < 64 && KindName(static_cast<int>(*n)) != std::string("unknown"))
    return static_cast<int>(*n);
  for (int kind = 1; kind < 64; ++kind)
    if (text == KindName(kind)) return kind;
  return std::nullopt;
}

std::optional<UpdateStep> Step(const std::string& text) {
  static const std::pair<const char*, UpdateStep> kSteps[] = {
      {"link-check", UpdateStep::kLinkCheck},   {"handshake", UpdateStep::kHandshake},
      {"set-baud", UpdateStep::kSetBaud},       {"identity-read", UpdateStep::kIdentityRead},
      {"unlock", UpdateStep::kUnlock},          {"erase", UpdateStep::kErase},
      {"page-write", UpdateStep::kPageWrite},   {"identity-write", UpdateStep::kIdentityWrite},
      {"checksum", UpdateStep::kChecksum},      {"restart", UpdateStep::kRestart},
  };
  for (const auto& [name, step] : kSteps)
    if (text == name) return step;
  return std::nullopt;
}

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

}  // namespace

const char* SimUsage() {
  return
      "usage: brivelton-sim [options]\n"
      "Serves a simulated adapter on a pseudo-terminal; prints the terminal's path.\n"
      "  --link PATH               keep a symlink PATH to the terminal\n"
      "  --version HEX             firmware version of the old image (default 1FF)\n"
      "  --image FILE              image whose presence in flash reports --image-version\n"
      "  --image-version HEX       (default: the built-in image's version)\n"
      "  --address HEX12           Bluetooth address, e.g. 001BDC0F217E\n"
      "  --blank-identity          identity page all FF\n"
      "  --flash FILE              flash contents (up to 1 MiB, padded with FF)\n"
      "  --param OP=VALUE          raw stored parameter value, op 1 to 10\n"
      "  --boot-entry handshake|bursts\n"
      "  --timing NAME=US          erase-64k, erase-4k, page-program, checksum,\n"
      "                            page-read, restart, latency\n"
      "  --time-scale F            multiply device times by F (default 1)\n"
      "  --dump-flash FILE         write the flash at exit\n"
      "  --dump-params FILE        write the parameters as op=value lines at exit\n"
      "faults:\n"
      "  --seed N  --silent  --busy  --wrong-checksum  --short-checksum\n"
      "  --no-version-marker  --bad-param-ack  --extra-bytes N\n"
      "  --ignore KIND=N  --short KIND=N  --short-bytes N   (KIND: number or name)\n"
      "  --drop-rate R  --flip-rate R   (per byte, 0 to 1)\n"
      "  --hangup-after-bytes N  --hangup-step STEP[:INDEX]  --hangup-count N\n"
      "      STEP: link-check handshake set-baud identity-read unlock erase\n"
      "            page-write identity-write checksum restart\n"
      "  --verbose                 log each frame on stderr\n"
      "  --help\n";
}

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options,
                     std::string& error) {
  AdapterConfig& config = options.config;
  Faults& faults = config.faults;
  auto fail = [&error](const std::string& text) {
    error = text;
    return false;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inline_value;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inline_value = name.substr(eq + 1);
      name.resize(eq);
    }
    auto flag = [&]() {
      if (inline_value) {
        error = name + " takes no value";
        return false;
      }
      return true;
    };
    auto value = [&](std::string& out) {
      if (inline_value) {
        out = *inline_value;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string v;
    if (name == "--help" || name == "-h") {
      if (!flag()) return false;
      options.help = true;
    } else if (name == "--verbose") {
      if (!flag()) return false;
      options.verbose = true;
    } else if (name == "--blank-identity") {
      if (!flag()) return false;
      config.blank_identity = true;
    } else if (name == "--silent") {
      if (!flag()) return false;
      faults.silent = true;
    } else if (name == "--busy") {
      if (!flag()) return false;
      faults.busy = true;
    } else if (name == "--wrong-checksum") {
      if (!flag()) return false;
      faults.wrong_checksum = true;
    } else if (name == "--short-checksum") {
      if (!flag()) return false;
      faults.short_checksum = true;
    } else if (name == "--no-version-marker") {
      if (!flag()) return false;
      faults.version_without_marker = true;
    } else if (name == "--bad-param-ack") {
      if (!flag()) return false;
      faults.bad_param_ack = true;
    } else if (name == "--link") {
      if (!value(options.link)) return false;
      if (options.link.empty()) return fail("--link needs a path");
    } else if (name == "--dump-flash") {
      if (!value(options.dump_flash)) return false;
      if (options.dump_flash.empty()) return fail("--dump-flash needs a path");
    } else if (name == "--dump-params") {
      if (!value(options.dump_params)) return false;
      if (options.dump_params.empty()) return fail("--dump-params needs a path");
    } else if (name == "--version" || name == "--image-version") {
      if (!value(v)) return false;
      const auto version = Version(v);
      if (!version) return fail(name + ": '" + v + "' is not one to three hexadecimal digits");
      if (name == "--version") config.version = *version;
      else config.image_version = *version;
    } else if (name == "--address") {
      if (!value(v)) return false;
      std::string hex;
      for (char c : v)
        if (c != ':' && c != '-') hex += c;
      if (hex.size() != 12 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return fail("--address: '" + v + "' is not six hexadecimal bytes");
      for (size_t k = 0; k < 6; ++k)
        config.bt_address[k] =
            static_cast<uint8_t>(std::strtoul(hex.substr(2 * k, 2).c_str(), nullptr, 16));
    } else if (name == "--flash") {
      if (!value(v)) return false;
      if (!ReadFile(v, kFlashSize, config.flash, error)) return false;
      if (config.flash.empty()) return fail(v + " is empty");
    } else if (name == "--image") {
      if (!value(v)) return false;
      if (!ReadFile(v, kImageEnd, config.image, error)) return false;
      if (config.image.size() != kImageEnd)
        return fail(v + " holds " + std::to_string(config.image.size()) + " bytes; an image holds " +
                    std::to_string(kImageEnd));
    } else if (name == "--param") {
      if (!value(v)) return false;
      std::string op_text, value_text;
      const auto op = Pair(v, op_text, value_text) ? Integer(op_text, 10) : std::nullopt;
      const auto raw = op ? Integer(value_text) : std::nullopt;
      if (!op || *op < 1 || *op > 10) return fail("--param: '" + v + "' is not OP=VALUE with OP 1 to 10");
      if (!raw || *raw < 0 || *raw > 0xFFFFFFFFll) return fail("--param: bad value in '" + v + "'");
      config.params[static_cast<int>(*op)] = static_cast<uint32_t>(*raw);
    } else if (name == "--boot-entry") {
      if (!value(v)) return false;
      if (v == "handshake") config.boot_entry = BootEntry::kHandshake;
      else if (v == "bursts") config.boot_entry = BootEntry::kBursts;
      else return fail("--boot-entry: '" + v + "' is neither handshake nor bursts");
    } else if (name == "--timing") {
      if (!value(v)) return false;
      std::string key, us_text;
      const auto us = Pair(v, key, us_text) ? Integer(us_text, 10) : std::nullopt;
      if (!us || *us < 0) return fail("--timing: '" + v + "' is not NAME=MICROSECONDS");
      Timing& t = config.timing;
      uint64_t* slot = key == "erase-64k"      ? &t.erase_64k_us
                       : key == "erase-4k"     ? &t.erase_4k_us
                       : key == "page-program" ? &t.page_program_us
                       : key == "checksum"     ? &t.checksum_us
                       : key == "page-read"    ? &t.page_read_us
                       : key == "restart"      ? &t.restart_us
                       : key == "latency"      ? &t.reply_latency_us
                                               : nullptr;
      if (!slot) return fail("--timing: unknown device time '" + key + "'");
      *slot = static_cast<uint64_t>(*us);
    } else if (name == "--time-scale") {
      if (!value(v)) return false;
      const auto f = Real(v);
      if (!f || !(*f >= 0) || *f > 1000) return fail("--time-scale: '" + v + "' is not a factor from 0 to 1000");
      options.time_scale = *f;
    } else if (name == "--seed") {
      if (!value(v)) return false;
      const auto n = Integer(v);
      if (!n || *n < 0 || *n > 0xFFFFFFFFll) return fail("--seed: '" + v + "' is not a number");
      faults.seed = static_cast<uint32_t>(*n);
    } else if (name == "--ignore" || name == "--short") {
      if (!value(v)) return false;
      std::string kind_text, count_text;
      const auto kind = Pair(v, kind_text, count_text) ? Kind(kind_text) : std::nullopt;
      const auto count = kind ? Integer(count_text, 10) : std::nullopt;
      if (!kind) return fail(name + ": '" + v + "' is not KIND=N with a known kind");
      if (!count || *count < 0 || *count > 1'000'000'000) return fail(name + ": bad count in '" + v + "'");
      (name == "--ignore" ? faults.ignore_kind : faults.short_reply_kind)[*kind] =
          static_cast<int>(*count);
    } else if (name == "--short-bytes" || name == "--extra-bytes" || name == "--hangup-count") {
      if (!value(v)) return false;
      const auto n = Integer(v, 10);
      if (!n || *n < 0 || *n > 1'000'000) return fail(name + ": '" + v + "' is not a count");
      if (name == "--short-bytes") faults.short_reply_bytes = static_cast<int>(*n);
      else if (name == "--extra-bytes") faults.extra_bytes = static_cast<int>(*n);
      else faults.hangup_count = static_cast<int>(*n);
    } else if (name == "--hangup-after-bytes") {
      if (!value(v)) return false;
      const auto n = Integer(v, 10);
      if (!n || *n < 1) return fail("--hangup-after-bytes: '" + v + "' is not a positive count");
      faults.hangup_after_bytes = *n;
    } else if (name == "--drop-rate" || name == "--flip-rate") {
      if (!value(v)) return false;
      const auto r = Real(v);
      if (!r || !(*r >= 0 && *r <= 1)) return fail(name + ": '" + v + "' is not a rate from 0 to 1");
      (name == "--drop-rate" ? faults.drop_rate : faults.flip_rate) = *r;
    } else if (name == "--hangup-step") {
      if (!value(v)) return false;
      const size_t colon = v.find(':');
      const auto step = Step(v.substr(0, colon));
      if (!step) return fail("--hangup-step: unknown step '" + v.substr(0, colon) + "'");
      faults.hangup_step = *step;
      faults.hangup_index = 0;
      if (colon != std::string::npos) {
        const auto index = Integer(v.substr(colon + 1), 10);
        if (!index || *index < 0 || *index > 255) return fail("--hangup-step: bad index in '" + v + "'");
        faults.hangup_index = static_cast<int>(*index);
      }
    } else {
      return fail("unknown option '" + args[i] + "' (see --help)");
    }
  }
  return true;
}

void ScaleTiming(Timing& timing, double factor) {
  for (uint64_t* t : {&timing.erase_64k_us, &timing.erase_4k_us, &timing.page_program_us,
                      &timing.checksum_us, &timing.page_read_us, &timing.restart_us,
                      &timing.reply_latency_us})
    *t = static_cast<uint64_t>(static_cast<double>(*t) * factor + 0.5);
}

std::string ParamsText(const DeviceModel& model) {
  std::string text;
  for (int op = 1; op <= 10; ++op)
    text += std::to_string(op) + "=" + std::to_string(model.param(op)) + "\n";
  return text;
}

}  // namespace brivelton::sim
