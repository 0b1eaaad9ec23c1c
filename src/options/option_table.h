// SPDX-License-Identifier: MIT
#pragma once
// Options as tables: a program lists each of its options once, with what
// follows it, how its value is read and what a mistake says, and its parser,
// help text, completion and manual page are all made from that list. Below
// every program that has a command line, so the tool, the windows and the
// simulator read theirs the same way.
#include <span>
#include <string>
#include <vector>

namespace brivelton {

// What follows an option: nothing, or a value the completion offers ports,
// files or nothing for.
enum class OptionValue { kNone, kPort, kFile, kText };

template <class Args>
struct Option {
  const char* name;        // "--port"
  const char* short_name;  // "-p", or nullptr
  const char* value;       // as the help names it ("NAME"); nullptr for a switch
  OptionValue kind;
  const char* needs;       // what "option --port needs ..." asks for when it is missing
  // Reads the value (empty for a switch) into `args`; false with `error` set.
  bool (*take)(Args& args, const std::string& value, std::string& error);
  const char* help;        // the help column, lines apart by '\n'; nullptr: not listed
  unsigned commands = 0;   // one bit per command it belongs to; 0: any command
  bool in_synopsis = false;  // shown after its commands' names in the help
};

// "--port NAME", "--verbose".
template <class Args>
std::string Shown(const Option<Args>& option) {
  return option.value ? std::string(option.name) + " " + option.value : option.name;
}

// Whether `arg` names the option, alone or as "--name=VALUE".
template <class Args>
bool Names(const Option<Args>& option, const std::string& arg) {
  const std::string name = option.name;
  return arg == name || (option.short_name && arg == option.short_name) ||
         (option.value && arg.starts_with(name + "="));
}

// Takes args[i], which Names() the option: its value follows after '=' or as
// the next argument (and `i` moves past it). False with `error` set when the
// value is missing or the option's own rules refuse it.
template <class Args>
bool TakeOption(const Option<Args>& option, std::span<const std::string> args, size_t& i,
                Args& out, std::string& error) {
  const std::string& arg = args[i];
  std::string value;
  if (option.value) {
    if (arg.size() > std::string(option.name).size() && arg[std::string(option.name).size()] == '=') {
      value = arg.substr(std::string(option.name).size() + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      error = std::string("option ") + option.name + " needs " + option.needs;
      return false;
    }
  }
  return option.take(out, value, error);
}

// The option of `table` that `arg` names, or null.
template <class Args>
const Option<Args>* FindOption(std::span<const Option<Args>> table, const std::string& arg) {
  for (const auto& option : table)
    if (Names(option, arg)) return &option;
  return nullptr;
}

// The forms getopt_long takes, written out as the parsers here read them:
// bundled short options ("-qy" as "-q" "-y"), a short option's value joined
// to it ("-p/dev/ttyUSB0" as "-p" "/dev/ttyUSB0"), and "--", which ends the
// options: it is dropped and `operands_from` is where what followed it
// begins in `out` (out.size() without one). A value is passed on whole
// whatever it reads like.
template <class Args>
void ExpandOptionForms(std::span<const Option<Args>> table, std::span<const std::string> args,
                       std::vector<std::string>& out, size_t& operands_from) {
  out.clear();
  operands_from = std::string::npos;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (operands_from != std::string::npos || arg == "-" || !arg.starts_with("-")) {
      out.push_back(arg);
      continue;
    }
    if (arg == "--") {
      operands_from = out.size();
      continue;
    }
    if (arg.starts_with("--")) {
      const size_t equals = arg.find('=');
      const std::string name = arg.substr(0, equals);
      const Option<Args>* option = nullptr;
      for (const auto& o : table)
        if (name == o.name) option = &o;
      out.push_back(arg);
      if (option && option->value && equals == std::string::npos && i + 1 < args.size())
        out.push_back(args[++i]);
      continue;
    }
    for (size_t j = 1; j < arg.size(); ++j) {
      const std::string name = {'-', arg[j]};
      const Option<Args>* option = nullptr;
      for (const auto& o : table)
        if (o.short_name && name == o.short_name) option = &o;
      if (!option) {
        out.push_back(name);  // for the parser to name as unknown
        continue;
      }
      out.push_back(name);
      if (!option->value) continue;
      if (j + 1 < arg.size()) out.push_back(arg.substr(j + 1));
      else if (i + 1 < args.size()) out.push_back(args[++i]);
      break;
    }
  }
  if (operands_from == std::string::npos) operands_from = out.size();
}

// The switch that `arg` gives a value to ("--json=yes"), which getopt_long
// refuses too; null for anything else.
template <class Args>
const Option<Args>* SwitchGivenAValue(std::span<const Option<Args>> table, const std::string& arg) {
  const size_t equals = arg.find('=');
  if (!arg.starts_with("--") || equals == std::string::npos) return nullptr;
  for (const auto& o : table)
    if (!o.value && arg.compare(0, equals, o.name) == 0) return &o;
  return nullptr;
}

// What a program that takes options only says for what its table does not
// take.
template <class Args>
struct Refusals {
  // Anything that names no option, and whatever follows "--".
  std::string (*unexpected)(const std::string& arg);
  // "--json=yes"; null: as for any unexpected argument.
  std::string (*switch_given_a_value)(const Option<Args>& option) = nullptr;
  // An option with a value, last on the line; null: "option --port needs" and
  // what the option needs.
  std::string (*value_missing)(const Option<Args>& option) = nullptr;
};

// Every argument of `given` (without the program name), in the forms
// ExpandOptionForms reads, through `table` into `out`. False with `error`
// set at the first argument it refuses.
template <class Args>
bool TakeOptions(std::span<const Option<Args>> table, std::span<const std::string> given,
                 Args& out, std::string& error, const Refusals<Args>& refusals) {
  std::vector<std::string> args;
  size_t operands_from = 0;
  ExpandOptionForms(table, given, args, operands_from);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool option_like = i < operands_from && arg.starts_with("-");
    const Option<Args>* option = option_like ? FindOption(table, arg) : nullptr;
    if (const Option<Args>* switch_given = option_like ? SwitchGivenAValue(table, arg) : nullptr;
        switch_given && refusals.switch_given_a_value) {
      error = refusals.switch_given_a_value(*switch_given);
      return false;
    }
    if (!option) {
      error = refusals.unexpected(arg);
      return false;
    }
    if (option->value && arg.find('=') == std::string::npos && i + 1 == args.size() &&
        refusals.value_missing) {
      error = refusals.value_missing(*option);
      return false;
    }
    if (!TakeOption(*option, args, i, out, error)) return false;
  }
  return true;
}

// "a, b and c"; "nothing" for none.
std::string ListInWords(const std::vector<std::string>& items, const char* last_separator);

// `text` in lines of at most `width` columns, each indented by `indent`.
std::string Wrapped(const std::string& text, size_t indent, size_t width);

// "  NAME  help" as help texts show it: `name` from the third column, its
// help (lines apart by '\n') from `column` on, or on the lines under it when
// the name reaches that far.
std::string HelpRow(const std::string& name, const std::string& help, size_t column);

// The help column of a table: each option with help on a row of its own,
// `lead` (if any) said before its help.
template <class Args>
std::string OptionLines(std::span<const Option<Args>> table, size_t column,
                        std::string (*lead)(const Option<Args>&) = nullptr) {
  std::string text;
  for (const auto& option : table)
    if (option.help)
      text += HelpRow(Shown(option), (lead ? lead(option) : std::string()) + option.help, column);
  return text;
}

}  // namespace brivelton
