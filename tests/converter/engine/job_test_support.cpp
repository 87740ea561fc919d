#include "job_test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "converter/engine/thread_master.h"

namespace reel::test {

bool RunFfmpeg(const std::string& arguments) {
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

bool FfmpegAvailable() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

std::optional<double> AudioDuration(const std::string& path) {
  const std::string command = "ffprobe -v error -select_streams a:0 -show_entries stream=duration:format=duration "
                              "-of default=noprint_wrappers=1:nokey=1 '" + path + "' 2>/dev/null";
  struct PipeCloser {
    void operator()(std::FILE* pipe) const { pclose(pipe); }
  };
  std::unique_ptr<std::FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
  if (!pipe) return std::nullopt;
  std::array<char, 256> line{};
  while (std::fgets(line.data(), static_cast<int>(line.size()), pipe.get()) != nullptr) {
    char* end = nullptr;
    const double value = std::strtod(line.data(), &end);
    if (end != line.data() && value > 0.0) return value;
  }
  return std::nullopt;
}

JobSettings SettingsFor(const std::string& source, const std::string& outputFolder) {
  JobSettings settings;
  settings.sourcePath = source;
  settings.sourceKind = IsMjPath(source) ? SourceKind::kMj : SourceKind::kVideoFile;
  settings.outputFolder = outputFolder;
  return settings;
}

JobReport RunJob(const JobSettings& settings, std::optional<int32_t> stopAfterFrames, uint32_t* exitCode,
                 std::optional<unsigned> frameCoders) {
  CWavFileMake job(settings);
  if (frameCoders) job.SetFrameCoders(*frameCoders);
  CThreadCtrl(&job).Start();
  while (job.finished.load() == 0) {
    if (stopAfterFrames && job.framesDone.load() >= *stopAfterFrames) CThreadCtrl(&job).Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  CThreadCtrl control(&job);
  control.Stop();
  EXPECT_EQ(control.Wait(kInfinite), 1);
  if (exitCode != nullptr) *exitCode = job.ExitCode();
  return job.Report();
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

QrxHeader ReadHeader(const std::string& moviePath) {
  const auto bytes = ReadBytes(moviePath);
  if (bytes.size() < kQrxHeaderSize) return {};
  return ReadQrxHeader(std::span<const uint8_t>(bytes).first<kQrxHeaderSize>());
}

bool Verified(const std::string& moviePath) {
  const std::string command = std::string(REEL_QRXTOOL) + " verify '" + moviePath + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace reel::test
