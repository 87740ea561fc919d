// Speed of the audio stages as a multiple of real time ("realtime" counter: seconds of sound
// handled per second). The soundtrack is a minute of 22050 Hz stereo with a chord and some noise,
// so the encoders have more to do than with a pure tone.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "converter/audio/mp3_encoder.h"
#include "converter/audio/ogg_encoder.h"
#include "converter/audio/sound_format_conversion.h"

namespace reel {
namespace {

constexpr double kSeconds = 60.0;

std::vector<uint8_t> Soundtrack(uint32_t rate, uint16_t channels, uint16_t bits, double seconds) {
  const auto frames = static_cast<std::size_t>(rate * seconds);
  std::vector<uint8_t> bytes;
  bytes.reserve(frames * channels * (bits / 8));
  uint32_t noise = 1;
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    for (uint16_t c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double value = 0.25 * std::sin(2 * std::numbers::pi * 220.0 * (c + 1) * t) +
                           0.15 * std::sin(2 * std::numbers::pi * 1318.5 * t) +
                           0.05 * (static_cast<double>(noise >> 16) / 32768.0 - 1.0);
      if (bits == 8) {
        bytes.push_back(static_cast<uint8_t>(128 + std::lround(value * 127)));
      } else {
        const auto sample = static_cast<uint16_t>(static_cast<int16_t>(std::lround(value * 32767)));
        bytes.push_back(static_cast<uint8_t>(sample));
        bytes.push_back(static_cast<uint8_t>(sample >> 8));
      }
    }
  }
  return bytes;
}

void ReportRealTime(benchmark::State& state, double seconds) {
  state.counters["realtime"] =
      benchmark::Counter(seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_EncodeMp3_22050Stereo64k(benchmark::State& state) {
  const std::vector<uint8_t> pcm = Soundtrack(22050, 2, 16, kSeconds);
  const WAVEFORMATEX format = CompanionTargetFormat(false, true);
  for (auto _ : state) {
    EncodedAudio mp3 = EncodeMp3(pcm, format, {AudioEncoder::kMp3, 3, false, true});
    if (mp3.outcome != AudioOutcome::kEncoded) {
      state.SkipWithError("gogo.dll could not be loaded");
      return;
    }
    benchmark::DoNotOptimize(mp3.bytes.data());
  }
  ReportRealTime(state, kSeconds);
}
BENCHMARK(BM_EncodeMp3_22050Stereo64k)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EncodeOgg_22050Stereo64k(benchmark::State& state) {
  const std::vector<uint8_t> pcm = Soundtrack(22050, 2, 16, kSeconds);
  const WAVEFORMATEX format = CompanionTargetFormat(false, true);
  for (auto _ : state) {
    EncodedAudio ogg = EncodeOgg(pcm, format, {AudioEncoder::kOgg, 3, false, true});
    benchmark::DoNotOptimize(ogg.bytes.data());
  }
  ReportRealTime(state, kSeconds);
}
BENCHMARK(BM_EncodeOgg_22050Stereo64k)->Unit(benchmark::kMillisecond)->UseRealTime();

// A minute of sound from the given PCM format to the companion format (22050 Hz stereo unless
// the high rate is asked).
void ConvertBenchmark(benchmark::State& state, const WAVEFORMATEX& from, const WAVEFORMATEX& to) {
  const std::vector<uint8_t> pcm = Soundtrack(from.samplesPerSec, from.channels, from.bitsPerSample, kSeconds);
  for (auto _ : state) {
    auto converted = AcmConvertBuffer(AcmVariant::kMp3Preparation, from, to, pcm);
    benchmark::DoNotOptimize(converted->data());
  }
  ReportRealTime(state, kSeconds);
}

void BM_Convert_44100StereoTo22050(benchmark::State& state) {
  ConvertBenchmark(state, PcmWaveFormat(44100, 2, 16), CompanionTargetFormat(false, true));
}
BENCHMARK(BM_Convert_44100StereoTo22050)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Convert_48000StereoTo22050(benchmark::State& state) {
  ConvertBenchmark(state, PcmWaveFormat(48000, 2, 16), CompanionTargetFormat(false, true));
}
BENCHMARK(BM_Convert_48000StereoTo22050)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Convert_22050StereoTo44100(benchmark::State& state) {
  ConvertBenchmark(state, PcmWaveFormat(22050, 2, 16), CompanionTargetFormat(true, true));
}
BENCHMARK(BM_Convert_22050StereoTo44100)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Convert_8BitMono11025To22050Stereo(benchmark::State& state) {
  ConvertBenchmark(state, PcmWaveFormat(11025, 1, 8), CompanionTargetFormat(false, true));
}
BENCHMARK(BM_Convert_8BitMono11025To22050Stereo)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Convert_StereoToMonoSameRate(benchmark::State& state) {
  ConvertBenchmark(state, PcmWaveFormat(22050, 2, 16), CompanionTargetFormat(false, false));
}
BENCHMARK(BM_Convert_StereoToMonoSameRate)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace reel
