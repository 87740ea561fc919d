// The command-line reader: each argument is an operand, a long option or a run of short options;
// an option that takes a value takes the rest of its argument or else the next one.
#include "common/option_parser.h"

#include <optional>

namespace reel {
namespace {

Error Usage(const std::string& what) { return MakeError(ErrorKind::kUsage, "", what); }

std::optional<std::size_t> FindLong(std::span<const OptionSpec> table, std::string_view name) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i].longName == name) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> FindShort(std::span<const OptionSpec> table, char name) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i].shortName != '\0' && table[i].shortName == name) return i;
  }
  return std::nullopt;
}

class Reader {
 public:
  Reader(std::span<const OptionSpec> table, const std::vector<std::string>& arguments)
      : table_(table), arguments_(arguments) {}

  Result<CommandLine> Read() {
    bool optionsEnded = false;
    for (position_ = 0; position_ < arguments_.size(); ++position_) {
      const std::string& argument = arguments_[position_];
      if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
        line_.operands.push_back(argument);
      } else if (argument == "--") {
        optionsEnded = true;
      } else if (argument[1] == '-') {
        if (Status read = ReadLong(argument); !read) return read.error();
      } else if (Status read = ReadShorts(argument); !read) {
        return read.error();
      }
    }
    return std::move(line_);
  }

 private:
  Status ReadLong(const std::string& argument) {
    const auto equals = argument.find('=');
    const std::string spelling = argument.substr(0, equals);
    const auto option = FindLong(table_, std::string_view(spelling).substr(2));
    if (!option) return Usage("unknown option " + spelling);
    if (!table_[*option].TakesValue()) {
      if (equals != std::string::npos) return Usage(spelling + " takes no value");
      line_.options.push_back({*option, spelling, ""});
      return {};
    }
    if (equals != std::string::npos) {
      line_.options.push_back({*option, spelling, argument.substr(equals + 1)});
      return {};
    }
    return TakeNextAsValue(*option, spelling);
  }

  // "-nq60": flags up to the first option that takes a value, which takes the rest.
  Status ReadShorts(const std::string& argument) {
    for (std::size_t at = 1; at < argument.size(); ++at) {
      const std::string spelling = std::string("-") + argument[at];
      const auto option = FindShort(table_, argument[at]);
      if (!option) return Usage("unknown option " + spelling);
      if (!table_[*option].TakesValue()) {
        line_.options.push_back({*option, spelling, ""});
        continue;
      }
      if (at + 1 < argument.size()) {
        line_.options.push_back({*option, spelling, argument.substr(at + 1)});
        return {};
      }
      return TakeNextAsValue(*option, spelling);
    }
    return {};
  }

  Status TakeNextAsValue(std::size_t option, const std::string& spelling) {
    if (position_ + 1 >= arguments_.size()) return Usage(spelling + " needs a value");
    line_.options.push_back({option, spelling, arguments_[++position_]});
    return {};
  }

  std::span<const OptionSpec> table_;
  const std::vector<std::string>& arguments_;
  std::size_t position_ = 0;
  CommandLine line_;
};

}  // namespace

Result<CommandLine> ParseCommandLine(std::span<const OptionSpec> table, const std::vector<std::string>& arguments) {
  return Reader(table, arguments).Read();
}

std::string OptionHelpText(std::span<const OptionSpec> table, std::size_t helpColumn) {
  std::string text;
  std::string_view section;
  for (const OptionSpec& item : table) {
    if (!item.section.empty() && section != item.section) {
      section = item.section;
      text += "\n" + std::string(section) + ":\n";
    }
    std::string line = item.shortName != '\0' ? std::string("  -") + item.shortName + ", " : std::string(6, ' ');
    line += "--" + std::string(item.longName);
    if (item.TakesValue()) line += " " + std::string(item.valueName);
    text += line + "\n";
    std::string_view help = item.help;
    while (!help.empty()) {
      const auto end = help.find('\n');
      text += std::string(helpColumn, ' ') + std::string(help.substr(0, end)) + "\n";
      help.remove_prefix(end == std::string_view::npos ? help.size() : end + 1);
    }
  }
  return text;
}

}  // namespace reel
