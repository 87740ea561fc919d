// Running reelforge-cli from tests as a user would, in a folder of the test's, with its output
// captured, optionally under a file-size limit or in a process group of its own (to be
// interrupted as a terminal's Ctrl-C interrupts every process of the group).
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace reel::test {

struct CliResult {
  int status = -1;  // the exit status; -1 when the program ended by a signal
  int signal = 0;   // the signal that ended it
  std::string out;
  std::string err;
};

struct CliStart {
  std::optional<rlim_t> fileSizeLimit;  // RLIMIT_FSIZE in bytes
  bool ignoreFileSizeSignal = false;    // SIGXFSZ ignored from the start (else its default)
  bool ownProcessGroup = false;
};

class CliProcess {
 public:
  // Starts the program in `folder`; its standard output and error go to files in `logFolder`.
  CliProcess(const std::vector<std::string>& arguments, const std::filesystem::path& folder,
             const std::filesystem::path& logFolder, const CliStart& start = {});
  pid_t Pid() const { return pid_; }
  CliResult Finish();

 private:
  pid_t pid_ = -1;
  std::filesystem::path logFolder_;
};

CliResult RunCli(const std::vector<std::string>& arguments, const std::filesystem::path& folder,
                 const std::filesystem::path& logFolder, const CliStart& start = {});

// An AVI made with the ffmpeg tool: Motion-JPEG pictures whose content depends on `pattern`
// ("testsrc", "testsrc2", "smptebars", ...) and a 16-bit PCM tone. True when it was made.
bool MakeClip(const std::filesystem::path& path, int frames, const std::string& size = "320x240",
              const std::string& pattern = "testsrc");

// The folder's file names that are hidden (start with "."): a job's temporary files.
std::vector<std::string> HiddenNames(const std::filesystem::path& folder);

}  // namespace reel::test
