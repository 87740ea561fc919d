// reelforge's command line: reelforge [SOURCE], --help, --version.
//
// A source named on the command line (a desktop opening a video file with the converter) is
// filled in as if it had been chosen with Browse; nothing starts until Start is pressed. --help
// and --version are answered before any window system is touched, so they work without a display.
// Qt's own options (-platform, -style, ...) are taken out by QApplication before the source is
// looked for.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"

namespace reel {

enum class DialogAction { kRun, kHelp, kVersion };

// kHelp or kVersion when the arguments (without the program's name) ask for one before a "--",
// else kRun; the first of the two named wins.
DialogAction RequestedAction(std::span<const std::string> arguments);

// The source named by the arguments left after Qt has taken its own, or none. An error of kind
// kUsage for an unknown option or a second path, kNotFound for a path that does not exist and
// kNotThisFormat for one that is not a file (a folder), each naming what it refuses.
Result<std::optional<std::string>> SourceArgument(std::span<const std::string> arguments);

// What --help prints.
std::string_view DialogUsageText();

}  // namespace reel
