// The bash completions, sourced into bash as bash-completion does and asked for COMPREPLY: every
// option of reelforge-cli's table is offered, and every option with choices offers exactly them;
// qrxtool offers its commands and each command's options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "converter/cli/cli_options.h"

namespace reel {
namespace {

std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// COMPREPLY, sorted, for the command line `words` with the cursor at the end of the last word.
// bash splits words at "=" as COMP_WORDBREAKS says, so "--quality=6" is given as three words.
std::vector<std::string> Complete(const char* script, const char* function, const std::vector<std::string>& words) {
  std::string command = "source " + Quoted(script) + "; COMP_WORDS=(";
  for (const std::string& word : words) command += Quoted(word) + " ";
  command += "); COMP_CWORD=" + std::to_string(words.size() - 1) + "; " + function +
             "; printf '%s\\n' \"${COMPREPLY[@]}\"";
  FILE* pipe = popen(("bash -c " + Quoted(command) + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {"cannot run bash"};
  std::string out;
  char buffer[4096];
  for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
  pclose(pipe);
  std::vector<std::string> reply;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) reply.push_back(line);
  }
  std::sort(reply.begin(), reply.end());
  return reply;
}

std::vector<std::string> Cli(const std::vector<std::string>& words) {
  std::vector<std::string> all{"reelforge-cli"};
  all.insert(all.end(), words.begin(), words.end());
  return Complete(REEL_CLI_BASH_COMPLETION, "_reelforge_cli", all);
}

bool Offers(const std::vector<std::string>& reply, const std::string& word) {
  return std::find(reply.begin(), reply.end(), word) != reply.end();
}

TEST(CliCompletionTest, EveryOptionAndEveryChoiceOfTheTable) {
  const std::vector<std::string> longOptions = Cli({"--"});
  const std::vector<std::string> shortOptions = Cli({"-"});
  for (const OptionSpec& item : CliOptionSpecs()) {
    const std::string name = "--" + std::string(item.longName);
    EXPECT_TRUE(Offers(longOptions, name)) << name;
    if (item.shortName != '\0') {
      EXPECT_TRUE(Offers(shortOptions, std::string("-") + item.shortName)) << name;
    }
    if (item.choices.empty()) continue;
    std::vector<std::string> choices(item.choices.begin(), item.choices.end());
    std::sort(choices.begin(), choices.end());
    EXPECT_EQ(Cli({name, ""}), choices) << name;
    EXPECT_EQ(Cli({name, "="}), choices) << name;
  }
  EXPECT_EQ(Cli({"--quality", "=", "6"}), (std::vector<std::string>{"60", "65"}));
  EXPECT_EQ(Cli({"-b", "64"}), std::vector<std::string>{"64/32kbit"});
  EXPECT_EQ(Cli({"--output-"}), (std::vector<std::string>{"--output-beside-source", "--output-dir"}));
}

TEST(CliCompletionTest, QrxtoolCommandsAndTheirOptions) {
  const auto qrxtool = [](const std::vector<std::string>& words) {
    std::vector<std::string> all{"qrxtool"};
    all.insert(all.end(), words.begin(), words.end());
    return Complete(REEL_QRXTOOL_BASH_COMPLETION, "_qrxtool", all);
  };
  EXPECT_EQ(qrxtool({"ex"}), std::vector<std::string>{"export"});
  EXPECT_EQ(qrxtool({"co"}), (std::vector<std::string>{"code-jpeg", "code-picture"}));
  EXPECT_EQ(qrxtool({"--"}), (std::vector<std::string>{"--help", "--version"}));
  EXPECT_EQ(qrxtool({"info", "movie.qrx", "--"}), std::vector<std::string>{"--json"});
  EXPECT_EQ(qrxtool({"export", "m.qrx", "--f"}), (std::vector<std::string>{"--frames", "--from"}));
  EXPECT_EQ(qrxtool({"code-picture", "in.ppm", "--size", "6"}), std::vector<std::string>{"640x480"});
}

// zsh reads both scripts without a syntax error, and reelforge-cli's names every option of the table.
TEST(CliCompletionTest, ZshScriptsParseAndNameEveryOption) {
  for (const char* script : {REEL_CLI_ZSH_COMPLETION, REEL_QRXTOOL_ZSH_COMPLETION}) {
    EXPECT_EQ(std::system(("zsh -n " + Quoted(script) + " 2>&1").c_str()), 0) << script;
  }
  std::ifstream file(REEL_CLI_ZSH_COMPLETION);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  for (const OptionSpec& item : CliOptionSpecs()) {
    EXPECT_NE(text.find("--" + std::string(item.longName)), std::string::npos) << item.longName;
  }
}

}  // namespace
}  // namespace reel
