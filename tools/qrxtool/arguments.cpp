#include <iostream>

#include "tools/qrxtool/commands.h"

namespace reel {

std::optional<Arguments> ParseArguments(std::string_view command, const std::vector<std::string>& args,
                                        const std::set<std::string>& knownSwitches,
                                        const std::set<std::string>& knownOptions) {
  Arguments parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word.size() < 2 || word.rfind("--", 0) != 0) {
      parsed.positional.push_back(word);
    } else if (knownSwitches.contains(word)) {
      parsed.switches.insert(word);
    } else if (knownOptions.contains(word)) {
      if (i + 1 == args.size()) {
        UsageError(command, word + " needs a value");
        return std::nullopt;
      }
      parsed.options[word] = args[++i];
    } else {
      UsageError(command, "unknown option " + word);
      return std::nullopt;
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
