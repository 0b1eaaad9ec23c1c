#include "cli/docs.h"

#include <sstream>

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

// A line as roff shows it: no requests, no escapes, hyphens as minus signs.
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

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return text;
}

}  // namespace

std::string ManPage(const std::string& version) {
  std::istringstream help(HelpText());
  std::string line;
  std::getline(help, line);  // "Usage: brivelton ..."
  const std::string usage = line.substr(line.find(' ') + 1);
  std::string page = ".TH BRIVELTON 1 \"\" \"brivelton " + version +
                     "\" \"User Commands\"\n"
                     ".SH NAME\n"
                     "brivelton \\- service the Bluetooth telephone adapter on a serial port\n"
                     ".SH SYNOPSIS\n" +
                     RoffText(usage) + "\n.SH DESCRIPTION\n.nf\n";
  // Headings start in the first column and end with ':'; the rest keeps the
  // layout it has on the terminal.
  bool leading_blank = true;
  while (std::getline(help, line)) {
    if (!line.empty() && line[0] != ' ' && line.ends_with(":")) {
      page += ".fi\n.SH \"" + Upper(line.substr(0, line.size() - 1)) + "\"\n.nf\n";
      leading_blank = true;
      continue;
    }
    if (line.empty()) {
      if (!leading_blank) page += "\n";
      continue;
    }
    leading_blank = false;
    page += RoffText(line.starts_with("  ") ? line.substr(2) : line) + "\n";
  }
  page += ".fi\n";
  return page;
}

}  // namespace brivelton::cli
