#include "converter/cli/source_outputs.h"

#include <sys/stat.h>

#include "common/string_search.h"
#include "converter/engine/output_name.h"

namespace reel {

std::string OutputFolderFor(const CliOptions& options, const std::string& source) {
  if (!options.outputBesideSource) return options.settings.outputFolder;
  const auto slash = FindLastChar(source, '/');
  if (!slash) return ".";
  // "/a.avi": the root, which MakeOutputName writes as "" + "/".
  return source.substr(0, *slash);
}

JobSettings SettingsForSource(const CliOptions& options, const std::string& source) {
  JobSettings settings = options.settings;
  settings.sourcePath = source;
  settings.sourceKind = IsMjPath(source) ? SourceKind::kMj : SourceKind::kVideoFile;
  settings.outputFolder = OutputFolderFor(options, source);
  return settings;
}

std::vector<std::string> OutputNamesFor(const CliOptions& options, const std::string& source) {
  const std::string folder = OutputFolderFor(options, source);
  std::vector<std::string> names;
  for (const char* extension : {".qrx", ".mp3", ".ogg"}) names.push_back(MakeOutputName(folder, source, extension));
  return names;
}

std::optional<std::string> ExistingMovie(const CliOptions& options, const std::string& source) {
  if (!options.noOverwrite) return std::nullopt;
  std::string movie = OutputNamesFor(options, source).front();
  struct stat status{};
  // Anything of that name counts: the job would refuse or replace it, and neither is wanted.
  if (lstat(movie.c_str(), &status) != 0) return std::nullopt;
  return movie;
}

}  // namespace reel
