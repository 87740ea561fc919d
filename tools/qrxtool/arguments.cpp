// qrxtool's argument reading and its messages for bad arguments and bad input.
#include <iostream>

#include "tools/qrxtool/commands.h"

namespace reel {

std::optional<Arguments> ParseArguments(std::string_view command, const std::vector<std::string>& args) {
  std::vector<OptionSpec> table;
  for (const Command& c : Commands()) {
    if (c.name == command) table.insert(table.end(), c.options.begin(), c.options.end());
  }
  const Result<CommandLine> line = ParseCommandLine(table, args);
  if (!line) {
    UsageError(command, line.error().message);
    return std::nullopt;
  }
  Arguments parsed;
  parsed.positional = line->operands;
  for (const ParsedOption& option : line->options) {
    const std::string name = "--" + std::string(table[option.option].longName);
    if (table[option.option].TakesValue()) {
      parsed.options[name] = option.value;
    } else {
      parsed.switches.insert(name);
    }
  }
  return parsed;
}

int Fail(const std::string& what, const std::string& message) {
  std::cerr << "qrxtool: " << what << ": " << message << "\n";
  return 1;
}

int Fail(const Error& error) {
  std::cerr << "qrxtool: " << error.message << "\n";
  return 1;
}

int UsageError(std::string_view command, const std::string& message) {
  std::cerr << "qrxtool " << command << ": " << message << "\n";
  for (const Command& c : Commands()) {
    if (c.name == command) std::cerr << "usage: qrxtool " << c.name << " " << c.usage << "\n";
  }
  return 2;
}

}  // namespace reel
