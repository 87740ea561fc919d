#include "converter/front/command_line.h"

#include <filesystem>
#include <system_error>

namespace reel {
namespace {

bool IsOption(const std::string& argument) { return argument.size() > 1 && argument[0] == '-'; }

Result<std::optional<std::string>> ExistingFile(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) return MakeError(ErrorKind::kNotFound, path, "no such file");
  if (std::filesystem::is_directory(status)) return MakeError(ErrorKind::kNotThisFormat, path, "a folder, not a video file");
  return std::optional<std::string>(path);
}

}  // namespace

DialogAction RequestedAction(std::span<const std::string> arguments) {
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    if (argument == "--help" || argument == "-h") return DialogAction::kHelp;
    if (argument == "--version") return DialogAction::kVersion;
  }
  return DialogAction::kRun;
}

Result<std::optional<std::string>> SourceArgument(std::span<const std::string> arguments) {
  std::optional<std::string> path;
  bool optionsEnded = false;
  for (const std::string& argument : arguments) {
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && IsOption(argument)) {
      return MakeError(ErrorKind::kUsage, argument, "unknown option");
    } else if (path) {
      return MakeError(ErrorKind::kUsage, argument, "one source file only");
    } else {
      path = argument;
    }
  }
  if (!path) return std::optional<std::string>();
  return ExistingFile(*path);
}

std::string_view DialogUsageText() {
  return "Usage: reelforge [SOURCE]\n"
         "\n"
         "Converts a video file (AVI, a motion-JPEG .mj file, or any other format the media\n"
         "framework reads) into a QRX movie and its companion MP3 or Ogg sound file. The dialog\n"
         "opens with SOURCE filled in, as if chosen with Browse; nothing starts until Start is\n"
         "pressed. Movies go to the folder that was current when the program started.\n"
         "For conversions from a terminal or a script, see reelforge-cli.\n"
         "\n"
         "Options:\n"
         "  -h, --help         this text\n"
         "      --version      the version\n"
         "\n"
         "Qt's own options (-platform NAME, -style NAME, ...) are taken as Qt takes them.\n"
         "\n"
         "Exit status: 0 when the dialog is closed; 128 + the signal's number when a signal closed it;\n"
         "2 for a usage error.\n";
}

}  // namespace reel
