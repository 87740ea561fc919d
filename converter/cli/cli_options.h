// reelforge-cli's command line: every setting of the converter's dialog as an option, with the
// dialog's defaults, the output folder and the sources.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "converter/engine/wav_file_make.h"

namespace reel {

struct CliOptions {
  JobSettings settings;  // everything but the source path and kind
  std::vector<std::string> sources;
  bool help = false;
};

// The options, or nothing with a message in `error` (a usage error).
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& arguments, const std::string& currentFolder,
                                          std::string& error);

// The BIT list's labels, in order: "16/8kbit" ... "320/160kbit".
const std::vector<std::string>& BitRateLabels();

// The text --help prints.
std::string CliHelpText();

}  // namespace reel
