// Where each source's files go and whether a source is already converted: the output folder, or
// with --output-beside-source the source's own folder; with --no-overwrite, a source whose movie
// exists is skipped. A job's files appear together, only once all of them are complete, so an
// existing movie means its job finished.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "converter/cli/cli_options.h"
#include "converter/engine/conversion_job.h"

namespace reel {

// The folder `source`'s files go to: "/films/a.avi" gives "/films", "a.avi" gives ".".
std::string OutputFolderFor(const CliOptions& options, const std::string& source);

// The settings of the job for `source`: its kind is taken from its name, its folder as above.
JobSettings SettingsForSource(const CliOptions& options, const std::string& source);

// The names the job for `source` may write: the movie first, then the companions.
std::vector<std::string> OutputNamesFor(const CliOptions& options, const std::string& source);

// With --no-overwrite, the movie that makes `source` skipped; none when it is to be converted.
std::optional<std::string> ExistingMovie(const CliOptions& options, const std::string& source);

}  // namespace reel
