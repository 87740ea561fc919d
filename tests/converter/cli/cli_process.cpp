#include "cli_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "tests/support/external_tools.h"

namespace reel::test {
namespace {

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& arguments, const std::filesystem::path& folder,
                       const std::filesystem::path& logFolder, const CliStart& start)
    : logFolder_(logFolder) {
  std::vector<std::string> all{REEL_CLI};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const std::string outPath = (logFolder / "out").string();
  const std::string errPath = (logFolder / "err").string();
  const std::string folderPath = folder.string();
  pid_ = fork();
  if (pid_ != 0) return;
  if (start.ownProcessGroup) setpgid(0, 0);
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(folderPath.c_str()) != 0) _exit(126);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGXFSZ, start.ignoreFileSizeSignal ? SIG_IGN : SIG_DFL);
  if (start.fileSizeLimit) {
    const rlimit limit{*start.fileSizeLimit, *start.fileSizeLimit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  execv(REEL_CLI, argv.data());
  _exit(127);
}

CliResult CliProcess::Finish() {
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0) {
  }
  CliResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.out = ReadText(logFolder_ / "out");
  result.err = ReadText(logFolder_ / "err");
  return result;
}

CliResult RunCli(const std::vector<std::string>& arguments, const std::filesystem::path& folder,
                 const std::filesystem::path& logFolder, const CliStart& start) {
  return CliProcess(arguments, folder, logFolder, start).Finish();
}

bool MakeClip(const std::filesystem::path& path, int frames, const std::string& size, const std::string& pattern) {
  const double seconds = frames / 30.0;
  return RunFfmpegTool("-f lavfi -i " + pattern + "=size=" + size + ":rate=30 -f lavfi -i sine=frequency=440:duration=" +
                       std::to_string(seconds) + " -frames:v " + std::to_string(frames) +
                       " -c:v mjpeg -c:a pcm_s16le -f avi " + ShellQuoted(path));
}

std::vector<std::string> HiddenNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (!name.empty() && name[0] == '.') names.push_back(name);
  }
  return names;
}

}  // namespace reel::test
