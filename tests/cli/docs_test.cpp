// The completion script and the manual page against the command line itself:
// they offer what the tool accepts, and the tool accepts what they offer.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "cli/cli_args.h"
#include "cli/docs.h"
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
       {"--address", "--help", "--if-older", "--image", "--image-version", "--port", "--quiet",
        "--verbose", "--version", "--yes"}},
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

TEST(CliManPage, CarriesTheHelpTextUnderItsHeadings) {
  const std::string page = cli::ManPage("9.9");
  EXPECT_EQ(page.rfind(".TH BRIVELTON 1 \"\" \"brivelton 9.9\" \"User Commands\"\n", 0), 0u);
  for (const char* heading : {".SH NAME\n", ".SH SYNOPSIS\n", ".SH DESCRIPTION\n",
                              ".SH \"COMMANDS\"\n", ".SH \"EXIT STATUS\"\n", ".SH \"EXAMPLES\"\n"})
    EXPECT_NE(page.find(heading), std::string::npos) << heading;
  // Every word of help shows, with hyphens as roff minus signs and no line
  // that roff would take for a request.
  for (const auto& line : Lines(cli::HelpText())) {
    if (line.empty() || line.ends_with(":") || line.starts_with("Usage:")) continue;
    std::string text = line.starts_with("  ") ? line.substr(2) : line;
    std::string roff;
    for (char c : text) roff += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_NE(page.find("\n" + roff + "\n"), std::string::npos) << line;
  }
  for (const auto& line : Lines(page)) {
    if (line.starts_with(".") || line.starts_with("'")) {
      EXPECT_TRUE(std::regex_match(line, std::regex(R"(\.(TH|SH|nf|fi)( .*)?)"))) << line;
    }
  }
}

}  // namespace
}  // namespace brivelton::testing
