// qrxtool export: a movie out as motion JPEG with its sound, or as one JPEG file per frame.
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "tools/qrxtool/commands.h"
#include "tools/qrxtool/movie_export.h"
#include "tools/qrxtool/movie_file.h"

namespace reel {
namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(100);

std::optional<std::size_t> ParseCount(const std::string& text) {
  std::size_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "frame K of N" on one line of the terminal, redrawn at most ten times a second; nothing when
// standard error is not a terminal.
class ProgressLine {
 public:
  ProgressLine() : shown_(isatty(STDERR_FILENO) == 1) {}
  ~ProgressLine() { End(); }
  ExportProgress Reporter() {
    if (!shown_) return {};
    return [this](std::size_t done, std::size_t total) {
      const auto now = std::chrono::steady_clock::now();
      if (done != total && drawn_ && now - last_ < kProgressInterval) return;
      last_ = now;
      drawn_ = true;
      std::fprintf(stderr, "\rqrxtool: exporting frame %zu of %zu", done, total);
      std::fflush(stderr);
    };
  }
  void End() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }

 private:
  bool shown_ = false;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace

int RunExport(const std::vector<std::string>& args) {
  const auto parsed = ParseArguments("export", args);
  if (!parsed) return 2;
  const auto& options = parsed->options;
  const bool toFrames = options.contains("--frames");
  if (parsed->positional.size() != (toFrames ? 1u : 2u)) {
    return UsageError("export", toFrames ? "expected a movie" : "expected a movie and an output file");
  }
  if (!toFrames && (options.contains("--from") || options.contains("--count"))) {
    return UsageError("export", "--from and --count go with --frames");
  }
  FrameRange range;
  if (const auto from = options.find("--from"); from != options.end()) {
    const auto first = ParseCount(from->second);
    if (!first) return UsageError("export", "--from '" + from->second + "' is not a frame number");
    range.first = *first;
  }
  if (const auto count = options.find("--count"); count != options.end()) {
    range.count = ParseCount(count->second);
    if (!range.count || *range.count == 0) return UsageError("export", "--count '" + count->second + "' is not a count");
  }
  const std::string& moviePath = parsed->positional[0];
  const auto movie = LoadMovieOrReport(moviePath);
  if (!movie) return 1;
  ProgressLine progress;
  std::string summary;
  Status exported;
  if (toFrames) {
    exported = ExportFrameFiles(*movie, moviePath, options.at("--frames"), range, progress.Reporter());
  } else {
    const std::string& output = parsed->positional[1];
    const Result<ExportedMovie> written = ExportMovie(*movie, moviePath, output, progress.Reporter());
    if (!written) exported = written.error();
    if (written) {
      summary = output + ": " + std::to_string(movie->index.size()) + " frames at " + std::to_string(movie->header.frameRate) +
                " fps, " + (written->soundPath ? "sound from " + *written->soundPath : "no companion sound found");
    }
  }
  progress.End();
  if (!exported) return exported.error().Is(ErrorKind::kUsage) ? UsageError("export", exported.error().message)
                                                                : Fail(exported.error());
  if (!summary.empty()) std::cout << summary << "\n";
  return 0;
}

}  // namespace reel
