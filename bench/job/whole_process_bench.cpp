// Whole processes side by side: for each source, reelforge-cli converting it at the default
// settings, the ffmpeg tool doing the nearest job (FfmpegEquivalent), and the ffmpeg tool only
// decoding it (`ffmpeg -i SRC -f null -`: every stream decoded on its own threads, the floor for a
// job that must decode every picture). Each iteration runs one of each in turn, the order reversed
// on every other iteration so that a change in the machine's load falls on all sides alike; the
// figures are medians over the iterations (REEL_BENCH_PAIRS, default 5).
//
// Counters: "s" our wall seconds, "job_s" and "decode_s" the tool's, "vs_ffmpeg" = s / job_s,
// "vs_decode" = s / decode_s. With REEL_BEFORE_CLI naming another build's reelforge-cli (a copy of
// an earlier bin/ with its lib/ beside it), that program runs in the same rotation and its figures
// appear as "before_s", "before_vs_ffmpeg" and "before_vs_decode".
//
// Sources: every file of the shared media set with a picture, and clips made here of the kinds
// that were slowest (H.264 720p, MPEG-4 part 2 with B-frames, MPEG-1, Matroska with 5.1 AAC), each
// 0.3 s and 30 s long. REEL_BENCH_ONLY=TEXT keeps the sources whose name holds TEXT.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/job/job_beside_tool.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

const fs::path& Folder() {
  static const fs::path folder = [] {
    fs::path path = fs::path(REEL_BENCH_TMP_DIR) / "whole_process";
    fs::create_directories(path / "out");
    fs::create_directories(path / "before");
    return path;
  }();
  return folder;
}

struct MadeClip {
  const char* name;
  const char* seconds;
  const char* picture;  // the lavfi source's size and rate
  const char* codecs;   // ffmpeg output options
};

// testsrc2 moves everywhere and has fine detail, so the coders see pictures about as costly as a
// real film's.
constexpr MadeClip kMadeClips[] = {
    {"h264_1280x720_short.mp4", "0.3", "1280x720:rate=30", "-c:v libx264 -pix_fmt yuv420p -c:a aac -ac 2"},
    {"h264_1280x720_long.mp4", "30", "1280x720:rate=30", "-c:v libx264 -pix_fmt yuv420p -c:a aac -ac 2"},
    {"asp_bframes_640x480_short.avi", "0.3", "640x480:rate=30000/1001",
     "-c:v mpeg4 -vtag XVID -bf 2 -q:v 4 -c:a libmp3lame -b:a 128k -ac 2"},
    {"asp_bframes_640x480_long.avi", "30", "640x480:rate=30000/1001",
     "-c:v mpeg4 -vtag XVID -bf 2 -q:v 4 -c:a libmp3lame -b:a 128k -ac 2"},
    {"mpeg1_640x480_short.mpg", "0.3", "640x480:rate=30", "-c:v mpeg1video -q:v 3 -c:a mp2 -b:a 224k -ac 2"},
    {"mpeg1_640x480_long.mpg", "30", "640x480:rate=30", "-c:v mpeg1video -q:v 3 -c:a mp2 -b:a 224k -ac 2"},
    {"mkv_aac51_1280x720_short.mkv", "0.3", "1280x720:rate=25", "-c:v mpeg4 -q:v 4 -c:a aac -ac 6"},
    {"mkv_aac51_1280x720_long.mkv", "30", "1280x720:rate=25", "-c:v mpeg4 -q:v 4 -c:a aac -ac 6"},
};

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string MakeClip(const MadeClip& clip) {
  const fs::path path = Folder() / clip.name;
  if (!fs::exists(path)) {
    const std::string command = std::string("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=") +
                                clip.picture + " -f lavfi -i sine=frequency=440:sample_rate=44100 -t " +
                                clip.seconds + " " + clip.codecs + " " + Quoted(path.string());
    if (std::system(command.c_str()) != 0) throw std::runtime_error("the ffmpeg tool could not make " + path.string());
  }
  return path.string();
}

bool HasPicture(const fs::path& file) {
  static constexpr std::array<const char*, 8> kVideoEndings = {".avi", ".mpg", ".mkv", ".mov",
                                                               ".mp4", ".ogv", ".webm", ".flv"};
  return std::find(kVideoEndings.begin(), kVideoEndings.end(), file.extension().string()) != kVideoEndings.end();
}

// Runs `command`, returns its wall seconds and (when `output` is given) its standard output.
double TimedRun(const std::string& command, std::string* output = nullptr) {
  const auto start = std::chrono::steady_clock::now();
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("could not run " + command);
  std::array<char, 4096> buffer{};
  size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    if (output != nullptr) output->append(buffer.data(), got);
  }
  const int status = pclose(pipe);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (status != 0) throw std::runtime_error("failed: " + command);
  return seconds;
}

std::string CliCommand(const std::string& cli, const std::string& source, const fs::path& outputFolder) {
  return Quoted(cli) + " --progress json -o " + Quoted(outputFolder.string()) + " -- " + Quoted(source) +
         " 2>/dev/null";
}

// What the job did, from its JSON result line, as the ffmpeg tool's command needs it.
JobReport ReportOf(const std::string& output, bool* sound) {
  JobReport report;
  size_t lineStart = 0;
  while (lineStart < output.size()) {
    size_t lineEnd = output.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = output.size();
    const auto line = nlohmann::json::parse(output.substr(lineStart, lineEnd - lineStart), nullptr, false);
    lineStart = lineEnd + 1;
    if (line.is_discarded() || line.value("type", "") != "result") continue;
    if (line.value("result", "") != "succeeded") throw std::runtime_error("the job did not succeed: " + line.dump());
    report.frames = line.at("frames").get<int32_t>();
    report.width = line.at("width").get<int32_t>();
    report.height = line.at("height").get<int32_t>();
    report.movieRate = line.at("movieRate").get<uint32_t>();
    report.sourceRate = line.at("sourceRate").get<uint32_t>();
    *sound = line.at("files").size() > 1;
    return report;
  }
  throw std::runtime_error("the job wrote no result line");
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

int Pairs() {
  const char* text = std::getenv("REEL_BENCH_PAIRS");
  return text == nullptr ? 5 : std::max(1, std::atoi(text));
}

void CompareWholeProcesses(benchmark::State& state, const std::string& source) {
  const char* before = std::getenv("REEL_BEFORE_CLI");
  try {
    for (const MadeClip& clip : kMadeClips) {
      if (fs::path(source).filename() == clip.name) MakeClip(clip);
    }
    std::string output;
    TimedRun(CliCommand(REEL_CLI, source, Folder() / "out"), &output);  // warms the caches, learns the job
    bool sound = false;
    const JobReport report = ReportOf(output, &sound);
    struct Side {
      std::string command;
      std::vector<double> seconds;
    };
    std::vector<Side> sides = {
        {CliCommand(REEL_CLI, source, Folder() / "out"), {}},
        {FfmpegEquivalent(source, report, sound, (Folder() / "ffmpeg").string()), {}},
        {"ffmpeg -nostdin -loglevel error -i " + Quoted(source) + " -f null -", {}},
    };
    if (before != nullptr) sides.push_back({CliCommand(before, source, Folder() / "before"), {}});
    bool reversed = false;
    for (auto _ : state) {
      for (size_t i = 0; i < sides.size(); ++i) {
        Side& side = sides[reversed ? sides.size() - 1 - i : i];
        side.seconds.push_back(TimedRun(side.command));
      }
      reversed = !reversed;
    }
    const double ours = Median(sides[0].seconds);
    const double job = Median(sides[1].seconds);
    const double decode = Median(sides[2].seconds);
    state.counters["frames"] = report.frames;
    state.counters["s"] = ours;
    state.counters["job_s"] = job;
    state.counters["decode_s"] = decode;
    state.counters["vs_ffmpeg"] = ours / job;
    state.counters["vs_decode"] = ours / decode;
    if (before != nullptr) {
      const double was = Median(sides[3].seconds);
      state.counters["before_s"] = was;
      state.counters["before_vs_ffmpeg"] = was / job;
      state.counters["before_vs_decode"] = was / decode;
    }
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    for (auto _ : state) {
    }
  }
}

std::vector<std::string> Sources() {
  std::vector<std::string> sources;
  const fs::path shared(REEL_SHARED_MEDIA_DIR);
  if (fs::is_directory(shared)) {
    for (const auto& entry : fs::directory_iterator(shared)) {
      if (HasPicture(entry.path())) sources.push_back(entry.path().string());
    }
    std::sort(sources.begin(), sources.end());
  } else {
    std::fprintf(stderr, "the shared media set (%s) is absent; only made clips are measured\n", REEL_SHARED_MEDIA_DIR);
  }
  for (const MadeClip& clip : kMadeClips) sources.push_back((Folder() / clip.name).string());
  return sources;
}

const bool kRegistered = [] {
  const char* only = std::getenv("REEL_BENCH_ONLY");
  for (const std::string& source : Sources()) {
    const std::string name = fs::path(source).filename().string();
    if (only != nullptr && name.find(only) == std::string::npos) continue;
    benchmark::RegisterBenchmark(("BM_WholeProcess/" + name).c_str(),
                                 [source](benchmark::State& state) { CompareWholeProcesses(state, source); })
        ->Unit(benchmark::kSecond)
        ->UseRealTime()
        ->Iterations(Pairs());
  }
  return true;
}();

}  // namespace
}  // namespace reel
