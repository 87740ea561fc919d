#include "player/shell/command_line.h"

#include <filesystem>
#include <system_error>

#include "player/shell/movie_list.h"

namespace reel {
namespace {

Result<StartRequest> PlayPath(const std::string& path, const std::string& currentFolder) {
  // A relative path is taken from the current folder, so the program folder is always absolute.
  const std::filesystem::path full = !path.empty() && path[0] == '/' ? std::filesystem::path(path)
                                                                     : std::filesystem::path(currentFolder) / path;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(full, error);
  if (!std::filesystem::exists(status)) return MakeError(ErrorKind::kNotFound, path, "no such file or folder");
  StartRequest request;
  if (std::filesystem::is_directory(status)) {
    request.folder = WithTrailingSlash(full.lexically_normal().string());
    return request;
  }
  const std::string name = full.filename().string();
  if (!std::filesystem::is_regular_file(status) || !IsMovieFileName(name)) {
    return MakeError(ErrorKind::kNotThisFormat, path, "not a movie (a .qrx file) or a folder");
  }
  request.folder = WithTrailingSlash(full.parent_path().lexically_normal().string());
  request.movie = name;
  return request;
}

}  // namespace

Result<StartRequest> ParseCommandLine(std::span<const std::string> arguments, const std::string& currentFolder) {
  std::optional<std::string> path;
  bool optionsEnded = false;
  for (const std::string& argument : arguments) {
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (argument == "--help" || argument == "-h")) {
      return StartRequest{StartRequest::Action::kHelp, {}, {}};
    } else if (!optionsEnded && argument == "--version") {
      return StartRequest{StartRequest::Action::kVersion, {}, {}};
    } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
      return MakeError(ErrorKind::kUsage, argument, "unknown option");
    } else if (path) {
      return MakeError(ErrorKind::kUsage, argument, "one movie or folder only");
    } else {
      path = argument;
    }
  }
  if (!path) return StartRequest{StartRequest::Action::kPlay, WithTrailingSlash(currentFolder), {}};
  return PlayPath(*path, currentFolder);
}

std::string_view UsageText() {
  return "Usage: reelview [MOVIE.qrx | FOLDER]\n"
         "\n"
         "Plays the QRX movies of a folder, each with its companion sound (MOVIE.mp3 or MOVIE.ogg\n"
         "beside it), and repeats the movie until another is chosen. With a movie, its folder is\n"
         "the list and that movie plays first; with a folder, that folder; with nothing, the\n"
         "current folder. The folder's video.cfg keeps the volume and the movie to start with.\n"
         "A movie or folder dropped on the window plays too.\n"
         "\n"
         "Keys:\n"
         "  Space              pause and go on\n"
         "  PageUp, PageDown   10 seconds back, ahead (also Shift+Left, Shift+Right)\n"
         "  Home               the movie from its start\n"
         "  Left, Right        the previous, the next movie\n"
         "  Up, Down           volume\n"
         "  F11                full screen\n"
         "  F1 or ?            the keys over the picture\n"
         "  Z, X, C, a click   quit\n"
         "\n"
         "Options:\n"
         "  -h, --help         this text\n"
         "      --version      the version\n"
         "\n"
         "Exit status: 0 after a normal close; 1 when the window or the display cannot be opened, or\n"
         "when the volume could not be saved; 2 for a usage error.\n";
}

}  // namespace reel
