// The refill of one output buffer: decode through the plug-in, convert and mix 2048 stereo frames
// (about 93 ms of sound), for the three conversion paths; and the mix alone.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "player/audio/audio_output.h"
#include "player/audio/mp3_plugin.h"
#include "player/audio/mixer.h"

namespace reel {
namespace {

class NullDevice : public WaveOutDevice {
 public:
  void Write(std::size_t, std::span<const int16_t>) override {}
  uint32_t PositionBytes() const override { return 0; }
  uint32_t WrittenBytes() const override { return 0; }
  void SetVolume(uint16_t, uint16_t) override {}
  void Pause(bool) override {}
  void Flush(std::function<void()>) override {}
  bool Close() override { return true; }
  void Shutdown() override {}
  std::optional<Error> Failure() const override { return std::nullopt; }
};

void RefillOneBuffer(benchmark::State& state, const char* file, int32_t volume) {
  const std::filesystem::path path = std::filesystem::path(REEL_SHARED_MEDIA_DIR) / file;
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("shared media folder not present");
    return;
  }
  Mp3Plugin::SetModuleName(REEL_LODESTAR_PATH);
  AudioOutput audio([](uint32_t, WaveOutDevice::DoneHandler) -> Result<std::unique_ptr<WaveOutDevice>> {
    return std::unique_ptr<WaveOutDevice>(std::make_unique<NullDevice>());
  });
  // Looping, so every iteration decodes real frames however long the run.
  if (!audio.OpenChannel(0, path.filename().string(), path.parent_path().string() + "/", volume,
                         /*loop=*/true, /*start=*/true, /*wholeFile=*/true)) {
    state.SkipWithError("the channel cannot be opened");
    return;
  }
  std::size_t buffer = 0;
  for (auto _ : state) {
    audio.OnBufferDone(buffer);
    buffer = (buffer + 1) % AudioOutput::kBufferCount;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(audio.BufferBytes()));
}

void BM_Refill22050Stereo(benchmark::State& state) {
  RefillOneBuffer(state, "mp3_22050_jstereo_80k_id3v1only_290s.mp3", 100);
}
void BM_Refill44100StereoVolume50(benchmark::State& state) {
  RefillOneBuffer(state, "mp3_44100_jstereo_id3v24_id3v1.mp3", 50);
}
void BM_Refill32000Mono(benchmark::State& state) {
  RefillOneBuffer(state, "mp3_32000_mono_notags.mp3", 100);
}

void BM_MixOneBuffer(benchmark::State& state) {
  std::vector<int16_t> buffer(4096, 1000);
  std::vector<int16_t> pcm(4096);
  for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(i * 37 - 30000);
  const auto level = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    MixInto(buffer, pcm, level);
    benchmark::DoNotOptimize(buffer.data());
  }
}

BENCHMARK(BM_Refill22050Stereo);
BENCHMARK(BM_Refill44100StereoVolume50);
BENCHMARK(BM_Refill32000Mono);
BENCHMARK(BM_MixOneBuffer)->Arg(100)->Arg(50);

}  // namespace
}  // namespace reel
