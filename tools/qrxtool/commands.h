// qrxtool's commands: each takes the arguments after its name and returns the exit status
// (0 success, 1 bad input or an unsound movie, 2 a usage error).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/option_parser.h"
#include "common/result.h"

namespace reel {

struct Command {
  std::string_view name;
  std::string_view usage;    // the arguments, for the help text
  std::string_view summary;  // one line on what it does
  int (*run)(const std::vector<std::string>& args);
  std::vector<OptionSpec> options;  // what the parser takes and --help lists under it
};

std::span<const Command> Commands();

int RunInfo(const std::vector<std::string>& args);
int RunVerify(const std::vector<std::string>& args);
int RunFrame(const std::vector<std::string>& args);
int RunDecodeFrame(const std::vector<std::string>& args);
int RunCodeJpeg(const std::vector<std::string>& args);
int RunCodePicture(const std::vector<std::string>& args);
int RunExport(const std::vector<std::string>& args);
int RunThumbnail(const std::vector<std::string>& args);

// A --quality value for the coding commands: a whole number from 1 to 100, or none.
std::optional<int32_t> ParseQuality(const std::string& text);

// The parsed arguments of one command: positional words, switches (--json) and options with a
// value (--quality 50).
struct Arguments {
  std::vector<std::string> positional;
  std::set<std::string> switches;
  std::map<std::string, std::string> options;
};

// The arguments read with the options of every Commands() entry named `command` (switches and
// options keyed by their long spelling, "--json"); none, after printing the problem, when an
// argument is not one the command takes.
std::optional<Arguments> ParseArguments(std::string_view command, const std::vector<std::string>& args);

// Prints "qrxtool: WHAT: MESSAGE" to standard error and returns 1.
int Fail(const std::string& what, const std::string& message);
// The same for an error whose message already names its file.
int Fail(const Error& error);
// Prints the command's usage to standard error and returns 2.
int UsageError(std::string_view command, const std::string& message);

}  // namespace reel
