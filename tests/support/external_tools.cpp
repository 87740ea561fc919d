#include "tests/support/external_tools.h"

#include <stdio.h>
#include <sys/wait.h>

#include <array>
#include <cstdlib>
#include <memory>

namespace reel::test {

std::string ShellQuoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string ShellQuoted(const std::filesystem::path& path) { return ShellQuoted(std::string_view(path.native())); }

CommandResult RunCommand(const std::string& command) {
  struct PipeCloser {
    void operator()(FILE* pipe) const { pclose(pipe); }
  };
  CommandResult result;
  std::unique_ptr<FILE, PipeCloser> pipe(popen((command + " 2>&1").c_str(), "r"));
  if (!pipe) return result;
  std::array<char, 4096> buffer{};
  std::size_t got = 0;
  while ((got = fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) result.output.append(buffer.data(), got);
  const int raw = pclose(pipe.release());
  result.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

bool FfmpegInstalled() {
  static const bool installed = std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") == 0;
  return installed;
}

bool RunFfmpegTool(std::string_view arguments) {
  const std::string command =
      "ffmpeg -nostdin -hide_banner -loglevel error -y " + std::string(arguments) + " >/dev/null";
  return std::system(command.c_str()) == 0;
}

}  // namespace reel::test
