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
#include <sstream>
#include <regex>
#include <set>

#include "cli/cli_args.h"
#include "cli/docs.h"
#include "cli/exit_status.h"
#include "cli_harness.h"
#include "support/scratch_dir.h"

namespace brivelton::testing {
namespace {

namespace fs = std::filesystem;
using cli::OptionValue;

std::set<std::string> AllOptionNames() {
  std::set<std::string> names;
  for (const auto& o : cli::GlobalOptions()) names.insert(o.name);
  for (const auto& c : cli::CommandNames())
    for (const auto& o : cli::CommandOptions(*cli::FindCommand(c))) names.insert(o.name);
  return names;
}

TEST(CliDocs, EveryOptionTheHelpNamesIsCompletedAndEveryCompletedOneParses) {
  const std::string help = cli::HelpText();
  const std::set<std::string> completed = AllOptionNames();
  const std::regex option(R"((^|[\s\[(])(--[a-z][a-z-]*))");
  for (auto it = std::sregex_iterator(help.begin(), help.end(), option);
       it != std::sregex_iterator(); ++it)
    EXPECT_TRUE(completed.contains((*it)[2].str())) << (*it)[2].str() << " is not completed";

  // Each command's options parse with that command, a value given when they take one.
  for (const auto& name : cli::CommandNames()) {
    const cli::Command command = *cli::FindCommand(name);
    std::vector<cli::OptionName> options(cli::GlobalOptions().begin(), cli::GlobalOptions().end());
    options.insert(options.end(), cli::CommandOptions(command).begin(),
                   cli::CommandOptions(command).end());
    for (const auto& o : options) {
      SCOPED_TRACE(name + " " + o.name);
      std::vector<std::string> args = {name, o.name};
      if (o.value == OptionValue::kPort) args.push_back("/dev/ttyUSB0");
      if (o.value == OptionValue::kFile) args.push_back("some.file");
      if (o.value == OptionValue::kText)
        args.push_back(std::string(o.name) == "--address" ? "001BDC0F217E" : "204");
      // The options that only come in pairs.
      if (std::string(o.name) == "--image") args.insert(args.end(), {"--image-version", "204"});
      if (std::string(o.name) == "--image-version") args.insert(args.end(), {"--image", "fw.bin"});
      cli::Options parsed;
      std::string error;
      EXPECT_TRUE(cli::ParseArgs(args, parsed, error)) << error;
      // Help and the version answer before any command is run.
      if (std::string(o.name) != "--help" && std::string(o.name) != "--version") {
        EXPECT_EQ(parsed.command, command);
      }
    }
    std::vector<std::string> args = {name};
    cli::Options parsed;
    std::string error;
    EXPECT_TRUE(cli::ParseArgs(args, parsed, error)) << name << ": " << error;
    EXPECT_NE(help.find("\n  " + name + " "), std::string::npos) << name << " is not in --help";
  }
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
