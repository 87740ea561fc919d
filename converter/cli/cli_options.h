// reelforge-cli's command line: every setting of the converter's dialog as an option, with the
// dialog's defaults, the output folder and the sources. The options are one table, which both
// the parser and --help read.
#pragma once

#include <string>
#include <vector>

#include "common/option_parser.h"
#include "common/result.h"
#include "converter/engine/conversion_job.h"

namespace reel {

// How progress is shown: kAuto a bar on a terminal and plain lines otherwise, kPlain always lines,
// kJson one JSON object a line on standard output.
enum class ProgressStyle { kAuto, kPlain, kJson };

struct CliOptions {
  JobSettings settings;  // everything but the source path and kind
  std::vector<std::string> sources;
  // The arguments that make `settings`, as given, for running one job in a process of its own.
  std::vector<std::string> jobArguments;
  int32_t jobs = 0;                 // 0: as many as the machine takes
  int32_t progressDescriptor = -1;  // where "DONE TOTAL" lines go instead of a display; -1 for none
  ProgressStyle progress = ProgressStyle::kAuto;
  bool noOverwrite = false;         // skip a source whose movie exists
  bool outputBesideSource = false;  // each source's files go to its own folder
  bool help = false;
  bool version = false;
};

// The options, or an error of kind kUsage whose message says what was wrong.
Result<CliOptions> ParseCliOptions(const std::vector<std::string>& arguments, const std::string& currentFolder);

// The option table the parser, --help and the completions' test read.
const std::vector<OptionSpec>& CliOptionSpecs();

// The text --help prints.
std::string CliHelpText();

}  // namespace reel
