// Running outside programs from tests: the ffmpeg tool that makes test clips, and any command
// whose output and exit status a test checks (our own programs included).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace reel::test {

// The text in single quotes for the shell, any single quote in it escaped: a path with spaces or
// quotes stays one argument.
std::string ShellQuoted(std::string_view text);
std::string ShellQuoted(const std::filesystem::path& path);

struct CommandResult {
  int status = -1;     // the exit status; -1 when the command did not run or ended by a signal
  std::string output;  // standard output and standard error together
};
// Runs a shell command line and collects what it prints.
CommandResult RunCommand(const std::string& command);

// Whether the ffmpeg tool can be run (checked once per test program). Tests that need it skip
// with a clear message when it is not.
bool FfmpegInstalled();

// Runs the ffmpeg tool quietly (no banner, no prompts, outputs overwritten) with `arguments`, a
// shell-syntax argument list that names the output; paths in it should be ShellQuoted. True on
// success; on failure ffmpeg's errors are shown on standard error.
bool RunFfmpegTool(std::string_view arguments);

}  // namespace reel::test
