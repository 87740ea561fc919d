// Command lines read the way getopt_long reads them, from one table per program that also makes
// the program's --help.
//
// Options and operands may be mixed; "--" ends the options and "-" alone is an operand. A long
// option takes its value as "--quality=60" or "--quality 60"; a short one as "-q60" or "-q 60",
// and short flags bundle ("-nq60" when -n takes no value). Long names are matched exactly, never
// by abbreviation, so a script's spelling keeps its meaning when options are added.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace reel {

struct OptionSpec {
  std::string_view section;    // the --help heading it is listed under ("" for none)
  char shortName = '\0';       // '\0' when there is none
  std::string_view longName;   // without the leading "--"
  std::string_view valueName;  // the value's placeholder in --help; "" for a flag
  std::string_view help;       // lines of the --help text, each ending in "\n"
  // The values the option takes, as completions offer them (empty for free text). The program
  // reading the value may accept other spellings of the same choices.
  std::vector<std::string_view> choices;

  bool TakesValue() const { return !valueName.empty(); }
};

struct ParsedOption {
  std::size_t option = 0;  // its entry in the table
  std::string spelling;    // as typed, for messages: "-q" or "--quality"
  std::string value;       // empty for a flag
};

struct CommandLine {
  std::vector<ParsedOption> options;  // in the order given
  std::vector<std::string> operands;
};

// The options and operands, or an error of kind kUsage: "unknown option -x", "--size needs a
// value", "--mono takes no value".
Result<CommandLine> ParseCommandLine(std::span<const OptionSpec> table, const std::vector<std::string>& arguments);

// The table as --help lists it: a heading for each new section, "  -q, --quality PERCENT" (or
// "      --rate 22.05|44.1" without a short name) and the help lines indented to `helpColumn`.
std::string OptionHelpText(std::span<const OptionSpec> table, std::size_t helpColumn);

}  // namespace reel
