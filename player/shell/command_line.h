// reelview's command line: reelview [MOVIE.qrx | FOLDER], --help, --version.
//
// With a movie, its folder is the program folder (the movie list and video.cfg) and that movie
// plays first; with a folder, that folder; with nothing, the current folder. A path that is not a
// movie (a file named *.qrx) or a folder is refused, as are unknown options and a second path.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"

namespace reel {

struct StartRequest {
  enum class Action { kPlay, kHelp, kVersion };
  Action action = Action::kPlay;
  std::string folder;                // ends with "/"
  std::optional<std::string> movie;  // the movie to play first, a name in `folder`
};

// `arguments` without the program's name; `currentFolder` ends with "/". An error of kind kUsage
// for an unknown option or a second path, kNotFound for a path that does not exist and
// kNotThisFormat for one that is neither a movie nor a folder, each naming what it refuses.
Result<StartRequest> ParseCommandLine(std::span<const std::string> arguments, const std::string& currentFolder);

// What --help prints.
std::string_view UsageText();

}  // namespace reel
