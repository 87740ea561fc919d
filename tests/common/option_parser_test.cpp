// The command-line reader: getopt's spellings of values and bundles, and its usage errors.
#include "common/option_parser.h"

#include <gtest/gtest.h>

namespace reel {
namespace {

const std::vector<OptionSpec> kTable = {
    {"Picture", 'q', "quality", "PERCENT", "picture quality\n", {}},
    {"Picture", 'n', "no-overwrite", "", "skip\n", {}},
    {"Other", 'v', "verbose", "", "more\n", {}},
    {"Other", '\0', "rate", "22.05|44.1", "sample rate\nin kHz\n", {"22.05", "44.1"}},
};

// Each option read as "name=value" ("name" for a flag), then "|", then the operands.
std::string Read(const std::vector<std::string>& arguments) {
  const Result<CommandLine> line = ParseCommandLine(kTable, arguments);
  if (!line) return "error: " + line.error().message;
  std::string text;
  for (const ParsedOption& option : line->options) {
    text += std::string(kTable[option.option].longName) + (kTable[option.option].TakesValue() ? "=" + option.value : "") + " ";
  }
  text += "|";
  for (const std::string& operand : line->operands) text += " " + operand;
  return text;
}

TEST(OptionParserTest, ReadsAsGetoptDoes) {
  const struct {
    std::vector<std::string> arguments;
    std::string read;
  } cases[] = {
      {{"-q60", "a"}, "quality=60 | a"},
      {{"-q", "60", "a"}, "quality=60 | a"},
      {{"--quality=60"}, "quality=60 |"},
      {{"--quality", "60"}, "quality=60 |"},
      {{"--quality="}, "quality= |"},
      {{"-nq60"}, "no-overwrite quality=60 |"},
      {{"-nvq", "60"}, "no-overwrite verbose quality=60 |"},
      {{"-q-n"}, "quality=-n |"},              // the rest of the word is the value, whatever it is
      {{"-q", "--rate"}, "quality=--rate |"},  // so is the next word
      {{"a", "-n", "b", "--rate", "44.1", "c"}, "no-overwrite rate=44.1 | a b c"},
      {{"--", "-n", "--rate"}, "| -n --rate"},
      {{"-", "-n"}, "no-overwrite | -"},
      {{"-x"}, "error: unknown option -x"},
      {{"-nx"}, "error: unknown option -x"},
      {{"--qual", "5"}, "error: unknown option --qual"},  // no abbreviations
      {{"--bogus=1"}, "error: unknown option --bogus"},
      {{"a", "-q"}, "error: -q needs a value"},
      {{"-nq"}, "error: -q needs a value"},
      {{"--quality"}, "error: --quality needs a value"},
      {{"--verbose=yes"}, "error: --verbose takes no value"},
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.arguments), c.read) << c.arguments.front();
  EXPECT_EQ(ParseCommandLine(kTable, {"-x"}).kind(), ErrorKind::kUsage);
}

TEST(OptionParserTest, HelpListsTheTableBySection) {
  EXPECT_EQ(OptionHelpText(kTable, 8),
            "\nPicture:\n"
            "  -q, --quality PERCENT\n"
            "        picture quality\n"
            "  -n, --no-overwrite\n"
            "        skip\n"
            "\nOther:\n"
            "  -v, --verbose\n"
            "        more\n"
            "      --rate 22.05|44.1\n"
            "        sample rate\n"
            "        in kHz\n");
}

}  // namespace
}  // namespace reel
