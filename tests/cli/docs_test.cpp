// SPDX-License-Identifier: MIT
// The completion script and the manual page against the command line itself:
// they offer what the tool accepts, and the tool accepts what they offer.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <regex>
#include <set>

#include "cli/cli_args.h"
#include "cli/docs.h"
#include "cli/exit_status.h"
#include "cli_harness.h"
#include "support/failure_of.h"
#include "support/scratch_dir.h"

namespace brivelton::testing {
namespace {

namespace fs = std::filesystem;

// What a text says of an option: the value it takes ("NAME"; empty for a
// switch) and the commands it is for (none: every command).
struct OptionDoc {
  std::string value;
  std::set<std::string> commands;
  std::string description;
  bool operator==(const OptionDoc& o) const {
    return value == o.value && commands == o.commands;
  }
  friend void PrintTo(const OptionDoc& doc, std::ostream* out) {
    *out << "value '" << doc.value << "' for";
    for (const auto& command : doc.commands) *out << " " << command;
    if (doc.commands.empty()) *out << " every command";
  }
};
using OptionDocs = std::map<std::string, OptionDoc>;

std::string Trimmed(const std::string& line);

// "(update, firmware) the firmware image ..." names update and firmware.
std::set<std::string> Scope(const std::string& description) {
  std::set<std::string> commands;
  if (!description.starts_with("(")) return commands;
  std::istringstream list(description.substr(1, description.find(')') - 1));
  for (std::string word; std::getline(list, word, ',');) commands.insert(Trimmed(word));
  return commands;
}

// The lines of the help's section `heading` ("Options"), up to the blank line.
std::vector<std::string> HelpSection(const std::string& help, const std::string& heading) {
  std::vector<std::string> lines;
  bool in = false;
  for (const auto& line : Lines(help)) {
    if (in && line.empty()) break;
    if (in) lines.push_back(line);
    if (line.starts_with(heading)) in = true;
  }
  return lines;
}

OptionDocs HelpOptions(const std::string& help) {
  OptionDocs docs;
  const std::regex item(R"(  (--[a-z-]+)(?: ([A-Z]+))?(?:\s+(.*))?)");
  const auto lines = HelpSection(help, "Options");
  std::string name;
  for (const auto& line : lines) {
    std::smatch m;
    if (std::regex_match(line, m, item)) {
      name = m[1];
      docs[name] = {m[2], {}, m[3]};
    } else if (!name.empty() && line.starts_with("    ")) {
      auto& description = docs[name].description;
      description += (description.empty() ? "" : " ") + Trimmed(line);
    } else {
      name.clear();  // the lines on short forms
    }
  }
  for (auto& [n, doc] : docs) doc.commands = Scope(doc.description);
  return docs;
}

// A manual page's text as roff prints it, fonts and escapes aside.
std::string Unroffed(std::string text) {
  for (const char* font : {"\\fB", "\\fI", "\\fR"})
    for (size_t at; (at = text.find(font)) != std::string::npos;) text.erase(at, 3);
  for (size_t at; (at = text.find("\\-")) != std::string::npos;) text.erase(at, 1);
  return text;
}

// The tagged items (".TP", tag line, text) between two section headings.
std::vector<std::pair<std::string, std::string>> ManItems(const std::string& page,
                                                          const std::string& from,
                                                          const std::string& to) {
  const size_t start = page.find(from), end = page.find(to);
  std::vector<std::pair<std::string, std::string>> items;
  if (start == std::string::npos || end == std::string::npos) return items;
  const auto lines = Lines(Unroffed(page.substr(start, end - start)));
  for (size_t i = 0; i + 2 < lines.size(); ++i)
    if (lines[i] == ".TP") items.emplace_back(lines[i + 1], lines[i + 2]);
  return items;
}

OptionDocs ManOptions(const std::string& page) {
  OptionDocs docs;
  const std::regex tag(R"((?:-[a-zA-Z], )?(--[a-z-]+)(?: ([A-Z]+))?)");
  for (const auto& [tag_line, text] : ManItems(page, ".SH OPTIONS\n", ".SH SETTINGS\n")) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(tag_line, m, tag)) << tag_line;
    docs[m[1]] = {m[2], Scope(text), text};
  }
  return docs;
}

// Each command with its synopsis: "update [--yes] ...".
std::map<std::string, std::string> HelpCommands(const std::string& help) {
  std::map<std::string, std::string> commands;
  const std::regex item(R"(  ([a-z-]+)((?: \S+)*)(?:  .*)?)");
  for (const auto& line : HelpSection(help, "Commands")) {
    std::smatch m;
    if (std::regex_match(line, m, item)) commands[m[1]] = m[1].str() + m[2].str();
  }
  return commands;
}

std::map<std::string, std::string> ManCommands(const std::string& page) {
  std::map<std::string, std::string> commands;
  for (const auto& [tag_line, text] : ManItems(page, ".SH COMMANDS\n", ".SH OPTIONS\n"))
    commands[tag_line.substr(0, tag_line.find(' '))] = tag_line;
  return commands;
}

// A value of the kind the help names, for trying an option out.
std::string SampleValue(const std::string& kind) {
  if (kind == "NAME") return "/dev/ttyUSB0";
  if (kind == "ADDRESS") return "001BDC0F217E";
  if (kind == "HEX") return "204";
  return "some.file";
}

// Runs the completion function as bash would for `line` (the cursor at its
// end) and returns the offered words, sorted. Words split at spaces and at
// '=' as bash's default word breaks do.
class Completion : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(dir_ / "brivelton.bash") << cli::BashCompletion();
    // A stand-in for the tool, so that port completion asks it for `ports`.
    std::ofstream(dir_ / "brivelton") << "#!/bin/sh\n[ \"$1\" = ports ] && echo /dev/ttyFAKE7\n";
    fs::permissions(dir_ / "brivelton", fs::perms::owner_all);
    std::ofstream(dir_ / "image.bin") << "x";
  }
  std::vector<std::string> Complete(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
      if (c == ' ' || c == '=') {
        if (!word.empty()) words.push_back(word);
        word.clear();
        if (c == '=') words.push_back("=");
      } else {
        word += c;
      }
    }
    if (!word.empty() || line.ends_with(" ")) words.push_back(word);
    words[0] = (dir_ / "brivelton").string();
    std::string array;
    for (const auto& w : words) array += " '" + w + "'";
    const std::string script =
        "cd '" + dir_.string() + "' && . ./brivelton.bash && COMP_WORDS=(" + array +
        ") && COMP_CWORD=" + std::to_string(words.size() - 1) + " && COMP_LINE='" + line +
        "' && COMP_POINT=${#COMP_LINE} && { _brivelton; printf '%s\\n' \"${COMPREPLY[@]}\"; }";
    std::ofstream(dir_ / "run.sh") << script << "\n";
    const std::string command = "bash '" + (dir_ / "run.sh").string() + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    while (pipe && fgets(buffer, sizeof buffer, pipe)) out += buffer;
    if (pipe) {
      EXPECT_EQ(pclose(pipe), 0) << out;
    }
    std::vector<std::string> offered;
    for (const auto& l : Lines(out))
      if (!l.empty()) offered.push_back(l);
    std::sort(offered.begin(), offered.end());
    return offered;
  }

  ScratchDir scratch_{"brivelton_completion"};
  const fs::path dir_ = scratch_.path();
};

using Words = std::vector<std::string>;

TEST_F(Completion, CommandsOptionsAndTheirValues) {
  Words commands = cli::CommandNames();
  std::sort(commands.begin(), commands.end());
  struct Case {
    std::string line;
    Words offered;
  };
  const Case cases[] = {
      {"brivelton ", commands},
      {"brivelton se", {"settings", "settings-help"}},
      {"brivelton --", {"--help", "--port", "--quiet", "--verbose", "--version"}},
      {"brivelton --verbose --port /dev/ttyS0 up", {"update"}},
      {"brivelton --port=/dev/ttyS0 fi", {"firmware"}},
      {"brivelton update --",
       {"--address", "--help", "--if-older", "--image", "--image-version", "--json", "--port",
        "--quiet", "--start-up-address", "--verbose", "--version", "--yes"}},
      {"brivelton check --", {"--help", "--json", "--port", "--quiet", "--verbose", "--version"}},
      {"brivelton update --image-version ", {}},
      {"brivelton --port ", {"/dev/ttyFAKE7"}},
      {"brivelton firmware --save im", {"image.bin"}},
      {"brivelton settings dial", {"dial-plan=", "dialtone-after-disconnect="}},
      {"brivelton settings offhook-power=st", {"strong", "strongest"}},
      {"brivelton check ", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Complete(c.line), c.offered);
  }
}

// The help, the manual page and the completion are made from one table, but
// each its own way: they name the same commands and options, each option
// with the same value and for the same commands, and the tool accepts every
// option the completion offers with a value of the kind the help names.
TEST_F(Completion, TheHelpTheManualPageAndTheCompletionAgree) {
  const std::string help = cli::HelpText();
  const std::string page = cli::ManPage("9.9");
  const OptionDocs options = HelpOptions(help);
  const auto commands = HelpCommands(help);
  ASSERT_FALSE(options.empty());
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(ManOptions(page), options);
  EXPECT_EQ(ManCommands(page), commands);

  // Every option the help names anywhere is one it describes, but --help,
  // which every command takes.
  const std::regex named(R"((^|[\s\[(])(--[a-z][a-z-]*))");
  for (auto it = std::sregex_iterator(help.begin(), help.end(), named);
       it != std::sregex_iterator(); ++it) {
    const std::string name = (*it)[2];
    EXPECT_TRUE(name == "--help" || options.contains(name)) << name << " is not described";
  }
  // The options a command's synopsis shows are that command's.
  for (const auto& [command, synopsis] : commands)
    for (auto it = std::sregex_iterator(synopsis.begin(), synopsis.end(), named);
         it != std::sregex_iterator(); ++it) {
      const std::string name = (*it)[2];
      ASSERT_TRUE(options.contains(name)) << synopsis;
      EXPECT_TRUE(options.at(name).commands.contains(command)) << synopsis;
    }

  Words all_commands;
  for (const auto& [command, synopsis] : commands) all_commands.push_back(command);
  EXPECT_EQ(Complete("brivelton "), all_commands);
  Words global = {"--help"};
  for (const auto& [name, doc] : options)
    if (doc.commands.empty()) global.push_back(name);
  std::sort(global.begin(), global.end());
  EXPECT_EQ(Complete("brivelton --"), global);

  for (const auto& command : all_commands) {
    SCOPED_TRACE(command);
    Words expected = global;
    for (const auto& [name, doc] : options)
      if (doc.commands.contains(command)) expected.push_back(name);
    std::sort(expected.begin(), expected.end());
    const Words offered = Complete("brivelton " + command + " --");
    EXPECT_EQ(offered, expected);

    for (const auto& name : offered) {
      SCOPED_TRACE(name);
      std::vector<std::string> args = {command, name};
      if (options.contains(name)) {
        const OptionDoc& doc = options.at(name);
        if (!doc.value.empty()) args.push_back(SampleValue(doc.value));
        // An option that "Needs --image-version." comes with it, and it with that one.
        for (const auto& [other, other_doc] : options) {
          if (other == name) continue;
          if (doc.description.find("Needs " + other + ".") != std::string::npos ||
              other_doc.description.find("Needs " + name + ".") != std::string::npos) {
            args.push_back(other);
            if (!other_doc.value.empty()) args.push_back(SampleValue(other_doc.value));
          }
        }
      }
      const auto parsed = cli::ParseArgs(args);
      EXPECT_EQ(FailureOf(parsed), "");
      // Help and the version answer before any command is run.
      if (parsed && name != "--help" && name != "--version") {
        EXPECT_EQ(parsed->command, *cli::FindCommand(command));
      }
    }
    std::vector<std::string> bare = {command};
    EXPECT_EQ(FailureOf(cli::ParseArgs(bare)), "");
  }
}

TEST_F(Completion, EverySettingAndEachOfItsValues) {
  Words names;
  for (const auto& s : cli::SettingNames()) {
    SCOPED_TRACE(s.name);
    names.push_back(std::string(s.name) + "=");
    Words values(s.values.begin(), s.values.end());
    std::sort(values.begin(), values.end());
    EXPECT_EQ(Complete(std::string("brivelton settings caller-id=on ") + s.name + "="), values);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(Complete("brivelton --verbose settings "), names);
}

// A page as a reader sees it: groff at `width` columns, plain text; its
// warnings go to `warnings`.
std::string Rendered(const std::string& page, int width, std::string& warnings) {
  const ScratchDir scratch("brivelton_man");
  std::ofstream(scratch.path() / "page.1") << page;
  const std::string command = "groff -man -Tascii -P-bcou -ww -rLL=" + std::to_string(width) +
                              "n '" + (scratch.path() / "page.1").string() + "' 2>'" +
                              (scratch.path() / "warnings").string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[256];
  while (pipe && fgets(buffer, sizeof buffer, pipe)) out += buffer;
  EXPECT_TRUE(pipe && pclose(pipe) == 0) << command;
  std::ifstream in(scratch.path() / "warnings");
  warnings.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return out;
}

std::string Trimmed(const std::string& line) {
  const size_t first = line.find_first_not_of(' ');
  return first == std::string::npos ? "" : line.substr(first);
}

// Runs of spaces and line ends as one space.
std::string Squeezed(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n' || c == ' ') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

TEST(CliManPage, IsAManPageThatFillsAnyWidth) {
  const std::string page = cli::ManPage("9.9");
  EXPECT_EQ(page.rfind(".TH BRIVELTON 1 \"\" \"brivelton 9.9\" \"User Commands\"\n", 0), 0u);
  size_t at = 0;
  for (const char* heading :
       {".SH NAME\n", ".SH SYNOPSIS\n", ".SH DESCRIPTION\n", ".SH COMMANDS\n", ".SH OPTIONS\n",
        ".SH \"JSON OUTPUT\"\n", ".SH \"EXIT STATUS\"\n", ".SH ENVIRONMENT\n", ".SH FILES\n",
        ".SH EXAMPLES\n", ".SH \"SEE ALSO\"\n"}) {
    const size_t found = page.find(heading, at);
    EXPECT_NE(found, std::string::npos) << heading << " missing or out of order";
    if (found != std::string::npos) at = found;
  }
  for (const auto& line : Lines(page)) {
    if (line.starts_with(".") || line.starts_with("'")) {
      EXPECT_TRUE(std::regex_match(
          line, std::regex(R"(\.(TH|SH|SS|TP|PP|RS|RE|nf|fi|nh|ad|B|BR|I|br)( .*)?)")))
          << line;
    }
  }
  // Every command, option and setting, as the tables have them.
  auto roff = [](const char* text) {
    std::string out;
    for (const char* c = text; *c; ++c) out += *c == '-' ? std::string("\\-") : std::string(1, *c);
    return out;
  };
  for (const auto& c : cli::CommandTable())
    EXPECT_NE(page.find(".TP\n\\fB" + roff(c.name) + "\\fR"), std::string::npos) << c.name;
  for (const auto& o : cli::OptionTable()) {
    if (o.help) {
      EXPECT_NE(page.find("\\fB" + roff(o.name) + "\\fR"), std::string::npos) << o.name;
    }
  }
  for (const auto& s : cli::SettingNames())
    EXPECT_NE(page.find(".TP\n\\fB" + roff(s.name) + "\\fR\n"), std::string::npos) << s.name;

  std::set<std::string> help_lines;
  for (const auto& line : Lines(cli::HelpText())) help_lines.insert(Trimmed(line));
  std::string narrow_text;
  for (const int width : {50, 120}) {
    SCOPED_TRACE(width);
    std::string warnings;
    const std::string shown = Rendered(page, width, warnings);
    EXPECT_EQ(warnings, "");
    size_t widest = 0;
    for (const auto& line : Lines(shown)) {
      widest = std::max(widest, line.size());
      // Only displays and examples keep their lines; they are the help's own.
      if (line.size() > size_t(width)) {
        EXPECT_TRUE(help_lines.contains(Trimmed(line))) << line;
      }
    }
    if (width == 120) {
      EXPECT_GT(widest, 100u);  // the prose fills a wide terminal
    } else {
      narrow_text = Squeezed(shown);
    }
  }
  // The help's prose reads the same in the page, however it is wrapped.
  std::string paragraph;
  std::istringstream help(cli::HelpText().substr(cli::HelpText().find("\nOutput:\n") + 9));
  for (std::string line; std::getline(help, line) && !line.starts_with("Settings");) {
    if (Trimmed(line).empty() || line.starts_with("    ") || line.ends_with(":")) {
      if (!paragraph.empty()) {
        EXPECT_NE(narrow_text.find(Squeezed(paragraph)), std::string::npos) << paragraph;
      }
      paragraph.clear();
    } else {
      paragraph += Trimmed(line) + " ";
    }
  }
}

TEST(CliManPage, TheWindowHasOneToo) {
  const std::string page = cli::UtilityManPage("9.9");
  EXPECT_EQ(page.rfind(".TH BRIVELTON-UTILITY 1 \"\" \"brivelton-utility 9.9\"", 0), 0u);
  std::string warnings;
  const std::string shown = Rendered(page, 70, warnings);
  EXPECT_EQ(warnings, "");
  for (const char* word : {"--port NAME", "--image FILE", "--image-version HEX", "--version",
                           "dialout", "brivelton(1)"})
    EXPECT_NE(shown.find(word), std::string::npos) << word;
}

// One table of exit statuses: the numbers scripts test, the help's words
// (the manual page is made from the help), and the README's copy of them.
TEST(CliDocs, TheExitStatusesAreOneTableEverywhere) {
  const auto rows = cli::ExitStatusRows();
  const int statuses[] = {cli::kExitDone,    cli::kExitFailed,    cli::kExitUsage,
                          cli::kExitNoAdapter, cli::kExitRefused, cli::kExitCancelled,
                          cli::kExitStartUpAddress};
  ASSERT_EQ(rows.size(), std::size(statuses) + 1);
  for (size_t i = 0; i < std::size(statuses); ++i)
    EXPECT_EQ(rows[i].status, std::to_string(statuses[i]));
  EXPECT_EQ(std::string(rows.back().status), "128 + N");

  std::ifstream file(std::string(BRIVELTON_SOURCE_DIR) + "/README.md");
  const std::string readme{std::istreambuf_iterator<char>(file), {}};
  ASSERT_FALSE(readme.empty());
  std::string table = "| status | meaning |\n| --- | --- |\n";
  for (const auto& row : rows)
    table += std::string("| ") + row.status + " | " + row.meaning + " |\n";
  EXPECT_NE(readme.find(table), std::string::npos) << table;

  // The Windows README, in the zip and the install folder, as the help says it.
  std::ifstream windows_file(std::string(BRIVELTON_SOURCE_DIR) + "/src/gui/win32/README.txt.in");
  const std::string windows{std::istreambuf_iterator<char>(windows_file), {}};
  const std::string help = cli::HelpText();
  const size_t start = help.find("Exit status:\n") + 13;
  const std::string lines = help.substr(start, help.find("\n\n", start) + 1 - start);
  EXPECT_NE(windows.find(lines), std::string::npos) << lines;

  const std::string man = cli::ManPage("0");
  for (const auto& row : rows) {
    std::istringstream words(row.meaning);
    const std::string first_word = [&] { std::string w; words >> w; return w; }();
    EXPECT_NE(man.find(".TP\n\\fB" + std::string(row.status) + "\\fR\n" + first_word),
              std::string::npos)
        << row.status;
  }
}

}  // namespace
}  // namespace brivelton::testing
