// The real AVI files of the shared media set, each converted at the default settings (the job's
// own rate and size choice: at most 15 frames per second, within 320 x 240, quality 50, MP3 at
// 64 kbit/s, 22050 Hz stereo) beside the ffmpeg tool doing the same job on the same file (see
// FfmpegEquivalent). A file missing from the set is skipped with a message.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "bench/job/job_beside_tool.h"

namespace reel {
namespace {

struct RealAvi {
  const char* name;
  bool sound;
};

constexpr RealAvi kRealAvis[] = {
    {"avi_xvid_mp3_720x480_2997.avi", true},         {"avi_fmp4_mp2_480x360_25fps.avi", true},
    {"avi_fmp4_520x380_18fps_noaudio.avi", false},   {"avi_mjpeg_pcm16_352x240_2997.avi", true},
    {"avi_mjpeg_pcmu8_160x120_15fps.avi", true},     {"avi_divx_568x320_30fps_noaudio.avi", false},
    {"avi_xvid_400x300_25fps_noaudio.avi", false},   {"avi_cinepak_imaadpcm_320x240_15fps.avi", true},
    {"avi_dib_rgb24_160x120_10fps_msadpcm.avi", true},
};

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    std::filesystem::path path = std::filesystem::path(REEL_BENCH_TMP_DIR) / "real_avi_job";
    std::filesystem::create_directories(path / "out");
    return path;
  }();
  return folder;
}

void ConvertRealAvi(benchmark::State& state, const RealAvi& avi) {
  const std::filesystem::path source = std::filesystem::path(REEL_SHARED_MEDIA_DIR) / avi.name;
  if (!std::filesystem::exists(source)) {
    state.SkipWithError((std::string(avi.name) + " is not in the shared media set (" REEL_SHARED_MEDIA_DIR "); skipped").c_str());
    for (auto _ : state) {
    }
    return;
  }
  JobSettings settings;
  settings.sourcePath = source.string();
  settings.outputFolder = (Folder() / "out").string();
  ConvertBesideFfmpeg(state, settings, -1, avi.sound, (Folder() / "ffmpeg").string());
}

const bool kRegistered = [] {
  for (const RealAvi& avi : kRealAvis) {
    benchmark::RegisterBenchmark((std::string("BM_RealAvi/") + avi.name).c_str(),
                                 [&avi](benchmark::State& state) { ConvertRealAvi(state, avi); })
        ->Unit(benchmark::kSecond)
        ->UseRealTime()
        ->Iterations(3);
  }
  return true;
}();

}  // namespace
}  // namespace reel
