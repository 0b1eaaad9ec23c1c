// SPDX-License-Identifier: MIT
#include "cli/docs.h"

#include <sstream>

#include "app/command_line.h"
#include "app/window_args.h"
#include "cli/cli_args.h"

namespace brivelton::cli {
namespace {

std::string Words(std::span<const OptionName> options) {
  std::string text;
  for (const auto& o : options) text += std::string(text.empty() ? "" : " ") + o.name;
  return text;
}

// A case arm per option that takes a value: what to offer after it.
std::string ValueArms() {
  std::string ports, files, texts;
  auto add = [](std::string& list, const char* name) {
    list += std::string(list.empty() ? "" : "|") + name;
  };
  auto collect = [&](std::span<const OptionName> options) {
    for (const auto& o : options) {
      if (o.value == OptionValue::kPort && ports.find(o.name) == std::string::npos) add(ports, o.name);
      if (o.value == OptionValue::kFile && files.find(o.name) == std::string::npos) add(files, o.name);
      if (o.value == OptionValue::kText && texts.find(o.name) == std::string::npos) add(texts, o.name);
    }
  };
  collect(GlobalOptions());
  for (const auto& name : CommandNames()) collect(CommandOptions(*FindCommand(name)));
  std::string arms;
  if (!ports.empty())
    arms += "    " + ports +
            ")\n"
            "      local listed\n"
            "      listed=$(\"${COMP_WORDS[0]}\" ports 2>/dev/null; ls -d /dev/serial/by-id/* 2>/dev/null)\n"
            "      COMPREPLY=($(compgen -W \"$listed\" -- \"$cur\"))\n"
            "      [ -n \"$cur\" ] && COMPREPLY+=($(compgen -f -- \"$cur\"))\n"
            "      return ;;\n";
  if (!files.empty())
    arms += "    " + files +
            ")\n"
            "      compopt -o filenames 2>/dev/null\n"
            "      COMPREPLY=($(compgen -f -- \"$cur\"))\n"
            "      return ;;\n";
  if (!texts.empty()) arms += "    " + texts + ")\n      return ;;\n";
  return arms;
}

// The options whose next word is their value, as a pattern.
std::string ValueOptionPattern() {
  std::string pattern;
  auto collect = [&](std::span<const OptionName> options) {
    for (const auto& o : options)
      if (o.value != OptionValue::kNone && pattern.find(o.name) == std::string::npos)
        pattern += std::string(pattern.empty() ? "" : "|") + o.name;
  };
  collect(GlobalOptions());
  for (const auto& name : CommandNames()) collect(CommandOptions(*FindCommand(name)));
  return pattern;
}

}  // namespace

std::string BashCompletion() {
  std::string commands;
  for (const auto& name : CommandNames()) commands += (commands.empty() ? "" : " ") + name;
  std::string command_arms;
  for (const auto& name : CommandNames()) {
    const std::string words = Words(CommandOptions(*FindCommand(name)));
    if (!words.empty()) command_arms += "    " + name + ") options+=\" " + words + "\" ;;\n";
  }
  std::string setting_names, setting_arms;
  for (const auto& s : SettingNames()) {
    setting_names += std::string(setting_names.empty() ? "" : " ") + s.name + "=";
    std::string values;
    for (const char* v : s.values) values += std::string(values.empty() ? "" : " ") + v;
    setting_arms += std::string("        ") + s.name + ") values=\"" + values + "\" ;;\n";
  }
  return "# bash completion for brivelton                           -*- shell-script -*-\n"
         "# Made by the build from the tool's own tables; edits here are lost.\n"
         "\n"
         "_brivelton() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=\n"
         "  [ \"$COMP_CWORD\" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
         "  COMPREPLY=()\n"
         "  case $prev in\n" +
         ValueArms() +
         "  esac\n"
         "\n"
         "  # The command is the first word that is neither an option nor a value.\n"
         "  local i command= word\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    word=${COMP_WORDS[i]}\n"
         "    case $word in\n"
         "      " + ValueOptionPattern() +
         ") [ \"${COMP_WORDS[i + 1]}\" = = ] && ((i++)); ((i++)) ;;\n"
         "      -*) ;;\n"
         "      *) command=$word; break ;;\n"
         "    esac\n"
         "  done\n"
         "\n"
         "  local options=\"" + Words(GlobalOptions()) + "\"\n"
         "  if [ -z \"$command\" ]; then\n"
         "    if [[ $cur == -* ]]; then\n"
         "      COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
         "    else\n"
         "      COMPREPLY=($(compgen -W \"" + commands + "\" -- \"$cur\"))\n"
         "    fi\n"
         "    return\n"
         "  fi\n"
         "  case $command in\n" +
         command_arms +
         "  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
         "  elif [ \"$command\" = settings ]; then\n"
         "    # Bash splits NAME=VALUE at the '=' when it is a word break; the\n"
         "    # whole word is taken from the line, the reply fits the part bash replaces.\n"
         "    local line=${COMP_LINE:0:COMP_POINT}\n"
         "    local whole=${line##*[[:space:]]}\n"
         "    if [[ $whole == *=* ]]; then\n"
         "      local name=${whole%%=*} values= v\n"
         "      case $name in\n" +
         setting_arms +
         "      esac\n"
         "      for v in $values; do\n"
         "        [[ $name=$v == \"$whole\"* ]] || continue\n"
         "        if [[ $COMP_WORDBREAKS == *=* ]]; then COMPREPLY+=(\"$v\"); else COMPREPLY+=(\"$name=$v\"); fi\n"
         "      done\n"
         "    else\n"
         "      COMPREPLY=($(compgen -W \"" + setting_names + "\" -- \"$cur\"))\n"
         "      compopt -o nospace 2>/dev/null\n"
         "    fi\n"
         "  fi\n"
         "}\n"
         "complete -F _brivelton brivelton\n";
}

namespace {

// Text as roff shows it: no requests, no escapes, hyphens as minus signs.
std::string RoffText(const std::string& line) {
  std::string text;
  for (char c : line) {
    if (c == '\\') text += "\\e";
    else if (c == '-') text += "\\-";
    else text += c;
  }
  if (text.starts_with(".") || text.starts_with("'")) text = "\\&" + text;
  return text;
}

std::string Bold(const std::string& text) { return "\\fB" + RoffText(text) + "\\fR"; }
std::string Italic(const std::string& text) { return "\\fI" + RoffText(text) + "\\fR"; }

// "--port NAME" as "\fB\-\-port\fR \fINAME\fR"; a short form first when there is one.
template <class Args>
std::string OptionTag(const Option<Args>& o) {
  std::string tag = o.short_name ? Bold(o.short_name) + ", " : "";
  tag += Bold(o.name);
  if (o.value) tag += " " + Italic(o.value);
  return tag;
}

// Help-column text, its lines joined: roff fills it to the reader's width.
std::string Filled(const std::string& text) {
  std::string joined;
  for (char c : text) joined += c == '\n' ? ' ' : c;
  return RoffText(joined);
}

template <class Args>
std::string OptionItems(std::span<const Option<Args>> table,
                        std::string (*lead)(const Option<Args>&) = nullptr) {
  std::string text;
  for (const auto& o : table)
    if (o.help)
      text += ".TP\n" + OptionTag(o) + "\n" + Filled((lead ? lead(o) : "") + o.help) + "\n";
  return text;
}

struct HelpSection {
  std::string heading;  // without the colon; empty for the lines before the first
  std::vector<std::string> lines;
};

// The --help text cut at its headings (lines in the first column ending in ':').
std::vector<HelpSection> HelpSections() {
  std::vector<HelpSection> sections(1);
  std::istringstream help(HelpText());
  std::string line;
  std::getline(help, line);  // "Usage: ..."
  while (std::getline(help, line)) {
    if (!line.empty() && line[0] != ' ' && line.ends_with(":"))
      sections.push_back({line.substr(0, line.size() - 1), {}});
    else
      sections.back().lines.push_back(line);
  }
  return sections;
}

const HelpSection& Section(const std::vector<HelpSection>& sections, const std::string& start) {
  for (const auto& s : sections)
    if (s.heading.starts_with(start)) return s;
  return sections.front();
}

size_t Indent(const std::string& line) {
  const size_t first = line.find_first_not_of(' ');
  return first == std::string::npos ? line.size() : first;
}

// Prose of the help as filled paragraphs; lines indented further than the
// text around them are displays, kept line by line.
std::string Paragraphs(const std::vector<std::string>& lines) {
  std::string text;
  bool display = false, begun = false;
  for (const auto& line : lines) {
    const bool displayed = Indent(line) >= 4;
    if (display && (line.empty() || !displayed)) {
      text += ".fi\n.RE\n";
      display = false;
    }
    if (line.empty()) {
      if (begun) text += ".PP\n";
      begun = false;
      continue;
    }
    if (displayed && !display) {
      text += ".RS\n.nf\n";
      display = true;
    }
    text += RoffText(line.substr(Indent(line))) + "\n";
    begun = true;
  }
  if (display) text += ".fi\n.RE\n";
  while (text.ends_with(".PP\n")) text.resize(text.size() - 4);
  return text;
}

// "  0  text" items with their continuation lines, as tagged paragraphs.
std::string TaggedItems(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    if (line.empty()) continue;
    if (Indent(line) == 2) {
      const size_t gap = line.find("  ", 2);
      text += ".TP\n" + Bold(line.substr(2, gap - 2)) + "\n" +
              RoffText(line.substr(line.find_first_not_of(' ', gap))) + "\n";
    } else {
      text += RoffText(line.substr(Indent(line))) + "\n";
    }
  }
  return text;
}

std::string Examples(const std::vector<std::string>& lines) {
  std::string text = ".PP\n.nf\n.RS\n";
  for (const auto& line : lines)
    if (!line.empty()) text += RoffText(line.substr(Indent(line))) + "\n";
  return text + ".RE\n.fi\n";
}

std::string Heading(const std::string& version, const char* program, const char* summary) {
  std::string upper = program;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return ".TH " + upper + " 1 \"\" \"" + program + " " + version +
         "\" \"User Commands\"\n"
         ".nh\n.ad l\n"  // a word is never split, lines fill from the left
         ".SH NAME\n" + program + " \\- " + summary + "\n";
}

const char* kDialout =
    "Serial ports belong to the group dialout on most systems; a user outside it can't open\n"
    "them. Join it with usermod \\-aG dialout \\fIUSER\\fR and log in again.\n";

const char* kJsonFields =
    "With \\fB\\-\\-json\\fR, stdout carries one JSON object and nothing else; the log goes to\n"
    "stderr, and the exit status is the one the command has without it. A value that is not\n"
    "known is null.\n"
    ".PP\n"    "Every object starts with \\fBformat\\fR, the version of this layout, now 1. Within a\n"
    "format, fields may be added (a script should ignore those it does not know) and new\n"
    "values may appear where this page lists the values of a field; a field is never\n"
    "removed, renamed or given another type or meaning, and a value never changes its\n"
    "meaning. Anything else would come with a new \\fBformat\\fR number.\n"
    ".PP\n"
    "\\fBcheck\\fR, \\fBupdate\\fR, \\fBidentity\\fR and \\fBsettings\\fR give:\n"
    ".TP\n\\fBfound\\fR\nwhether an adapter answered (true or false)\n"
    ".TP\n\\fBport\\fR\nthe port it answered on\n"
    ".TP\n\\fBfirmware_version\\fR\nthe adapter's firmware version as three hexadecimal digits, "
    "such as \"1FF\"\n"
    ".TP\n\\fBfirmware_version_number\\fR\nthe same version as a number (511 for 1FF)\n"
    ".TP\n\\fBupdate_available\\fR\nwhether the image the tool carries is newer than the "
    "adapter's firmware\n"
    ".TP\n\\fBimage\\fR\nthe image an update writes: \\fBversion\\fR (\"204\"), "
    "\\fBversion_number\\fR (516), \\fBversion_text\\fR (\"2.04\"), \\fBsize\\fR in bytes and "
    "\\fBchecksum\\fR (eight hexadecimal digits, in the order the boot loader reports them) and "
    "\\fBplaceholder\\fR (true when the image is the build's placeholder, not firmware for a "
    "real adapter)\n"
    ".PP\n"
    "\\fBidentity\\fR adds \\fBaddress\\fR (\"00:1B:DC:0F:21:7E\", null on a blank page) and "
    "\\fBname\\fR (the device name on the identity page). \\fBsettings\\fR adds "
    "\\fBoutcome\\fR (written, read when nothing was asked to change, failed, "
    "not\\-supported on firmware older than 2.00, no\\-port, not\\-found) and \\fBsettings\\fR, "
    "an object of the ten settings by NAME with their VALUEs as in NAME=VALUE: those now on "
    "the adapter, or those read when nothing was changed; null when none were read.\n"
    ".PP\n"
    "\\fBupdate\\fR prints its object once it has ended, with the fields of \\fBcheck\\fR "
    "(the firmware version as found before the update) and:\n"
    ".TP\n\\fBoutcome\\fR\n"
    "updated (written and verified), up\\-to\\-date (\\fB\\-\\-if\\-older\\fR found nothing to "
    "do), cancelled, refused (stopped before erasing anything), failed (not verified after "
    "the last attempt: the adapter needs another update) or not\\-found\n"
    ".TP\n\\fBattempts\\fR\n"
    "the programming attempts begun, 0 when none was\n"
    ".TP\n\\fBfirmware_version_after\\fR, \\fBfirmware_version_after_number\\fR\n"
    "the adapter's firmware afterwards, as \\fBfirmware_version\\fR; null when it has none "
    "that works (the update failed) or when it is not known\n"
    ".TP\n\\fBaddress\\fR\n"
    "the Bluetooth address the update wrote (or was to write); null when the update did not get that far\n"
    ".TP\n\\fBaddress_source\\fR\n"
    "where that address came from: page (the adapter's own identity page), saved (an entry "
    "of the identity journal), given (\\fB\\-\\-address\\fR), typed (the answer to the "
    "address question) or start\\-up (none was known: the start\\-up address)\n"
    ".TP\n\\fBjournal\\fR\n"
    "the identity journal's entry for that address: \\fBfile\\fR, its path, and "
    "\\fBentry\\fR, removed (the update succeeded) or kept (the address stays saved for the "
    "next run); null when nothing was saved\n"
    ".TP\n\\fBseconds\\fR\n"
    "how long the command took, to a tenth of a second\n"
    ".PP\n"
    "\\fBfirmware\\fR gives \\fBimage\\fR as above and \\fBsaved\\fR, the file \\fB\\-\\-save\\fR "
    "wrote (null without it or when it failed).\n"
    ".PP\n"
    "\\fBports\\fR gives \\fBsource\\fR (system, fallback when the system's list can't be read, "
    "or given by \\fB\\-\\-port\\fR or BRIVELTON_PORT) and \\fBports\\fR, an array of objects "
    "with the port's \\fBname\\fR and \\fBdetails\\fR: what \\fBports \\-\\-long\\fR shows "
    "(\\fBdriver\\fR, \\fBusb\\fR, \\fBmanufacturer\\fR, \\fBproduct\\fR, \\fBserial\\fR, "
    "\\fBby\\-id\\fR), as far as the system knows it.\n"
    ".PP\n"
    ".nf\n.RS\n"
    "$ brivelton check \\-\\-json 2>/dev/null\n"
    "{\n"
    "  \"format\": 1,\n"
    "  \"found\": true,\n"
    "  \"port\": \"/dev/ttyUSB0\",\n"
    "  \"firmware_version\": \"1FF\",\n"
    "  \"firmware_version_number\": 511,\n"
    "  \"update_available\": true,\n"
    "  \"image\": { \"version\": \"204\", ... }\n"
    "}\n"
    ".RE\n.fi\n";

}  // namespace

std::string ManPage(const std::string& version) {
  const auto sections = HelpSections();
  std::string synopsis = ".B brivelton\n";
  for (const auto& o : OptionTable())
    if (o.commands == 0 && o.help && std::string(o.name) != "--version")
      synopsis += "[" + Bold(o.name) + (o.value ? " " + Italic(o.value) : "") + "]" +
                  (std::string(o.name) == "--port" ? "..." : "") + "\n";
  synopsis += Italic("COMMAND") + " [" + Italic("ARGS") + "]\n.br\n.B brivelton \\-\\-version\n";

  std::string commands;
  for (const auto& c : CommandTable()) {
    const std::string line = CommandSynopsis(c);
    const size_t space = line.find(' ');
    commands += ".TP\n" + Bold(line.substr(0, space)) +
                (space == std::string::npos ? "" : RoffText(line.substr(space))) + "\n" +
                Filled(c.help) + "\n";
  }
  std::string settings;
  for (const auto& s : SettingNames()) {
    std::string values;
    // A narrow page may break the list after any '|'.
    for (const char* v : s.values) values += (values.empty() ? "" : "|\\:") + RoffText(v);
    settings += ".TP\n" + Bold(s.name) + "\n" + values + "\n";
  }
  return Heading(version, "brivelton", "service the Bluetooth telephone adapter on a serial port") +
         ".SH SYNOPSIS\n" + synopsis +
         ".SH DESCRIPTION\n" + Paragraphs(sections.front().lines) + ".PP\n" + kDialout +
         ".SS Output\n" + Paragraphs(Section(sections, "Output").lines) +
         ".SS \"" + Section(sections, "After an update").heading + "\"\n" +
         Paragraphs(Section(sections, "After an update").lines) +
         ".SH COMMANDS\n" + commands +
         ".SH OPTIONS\n"
         "The options of no command go before or after the command; the others after it.\n" +
         OptionItems<Options>(OptionTable(), CommandsLead) + ".PP\n" +
         RoffText(OptionFormsText()) + "\n" +
         ".SH SETTINGS\n"
         "The ten settings of \\fBsettings\\fR \\fINAME\\fR=\\fIVALUE\\fR, in the order they "
         "print, with the values each takes:\n" + settings +
         ".SH \"JSON OUTPUT\"\n" + kJsonFields +
         ".SH \"EXIT STATUS\"\n" + TaggedItems(Section(sections, "Exit status").lines) +
         ".SH ENVIRONMENT\n"
         ".TP\n.B BRIVELTON_PORT\n"
         "The ports to probe, separated by spaces or commas, when no \\fB\\-\\-port\\fR is "
         "given.\n"
         ".TP\n.B XDG_STATE_HOME\n"
         "Where the identity journal lives (see FILES); ~/.local/state when unset.\n"
         ".SH FILES\n"
         ".TP\n.I $XDG_STATE_HOME/brivelton/\n"
         "The identity journal: before an update erases anything, the adapter's Bluetooth "
         "address, its name, the port and its USB identity, one file per adapter, readable by its owner only; "
         "removed once the checksum and the identity page read back prove the address is on the "
         "adapter, before the restart. An update cut short writes the address back "
         "from it on the next run. A later run removes what a killed run left half written "
         "(regular files named like the entries with a dot, 16 hexadecimal digits and .tmp "
         "after them, older than a minute). Nothing else is kept.\n"
         ".SH EXAMPLES\n" + Examples(Section(sections, "Examples").lines) +
         ".SH \"SEE ALSO\"\n"
         ".BR brivelton\\-utility (1),\n"
         ".BR usermod (8)\n";
}

std::string UtilityManPage(const std::string& version) {
  return Heading(version, "brivelton-utility",
                 "the window that services the Bluetooth telephone adapter") +
         ".SH SYNOPSIS\n"
         ".B brivelton\\-utility\n"
         "[\\fB\\-\\-port\\fR \\fINAME\\fR]... "
         "[\\fB\\-\\-image\\fR \\fIFILE\\fR \\fB\\-\\-image\\-version\\fR \\fIHEX\\fR]\n"
         ".SH DESCRIPTION\n"
         "The window of the adapter's utility. \\fBCheck Device\\fR finds the adapter on the "
         "serial ports and reads its firmware version; \\fBUpdate Firmware\\fR then writes the "
         "firmware the program carries, keeping the adapter's Bluetooth address, and "
         "\\fBSetting\\fR reads and writes its ten parameters. The log in the window says what "
         "happens. An update clears the phones paired with the adapter: pair them again "
         "afterwards.\n"
         ".PP\n" + kDialout +
         ".SH OPTIONS\n" + OptionItems<WindowArgs>(WindowOptionTable()) +
         ".SH FILES\n"
         ".TP\n.I $XDG_STATE_HOME/brivelton/\n"
         "The identity journal, shared with \\fBbrivelton\\fR(1): the adapter's address, kept "
         "while an update runs so that one cut short can restore it.\n"
         ".SH \"SEE ALSO\"\n"
         ".BR brivelton (1)\n";
}

}  // namespace brivelton::cli
