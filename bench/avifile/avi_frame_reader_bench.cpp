// AVI frame reading: every second picture of the shared 720 x 480 Xvid AVI (as a job at 15 frames
// per second takes them) decoded and delivered as DIBs, with the colour converter writing into the
// DIB and the plain way through the reader's own buffer; each also with the caller handing every
// DIB back as storage for the next, as a job does. Beside them the pictures grabbed, their
// conversion left for later as the reader thread of a job leaves it to the coder threads: grabbed
// only (the reader thread's share) and grabbed then converted (all of the work). One decoder
// thread, so that the processor time measured is all of the work. Skipped when the file is not
// there.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/avifile/avi_frame_reader.h"

namespace reel {
namespace {

constexpr const char* kSource = REEL_SHARED_MEDIA_DIR "/avi_xvid_mp3_720x480_2997.avi";
constexpr uint32_t kPictures = 60;
constexpr uint32_t kStep = 2;
constexpr uint32_t kLeadingBytes = 14;

void BM_ReadFrames(benchmark::State& state) {
  if (!std::filesystem::exists(kSource)) {
    state.SkipWithError((std::string(kSource) + " is not there; skipped").c_str());
    return;
  }
  const auto writing = state.range(0) != 0 ? DibWriting::kPlain : DibWriting::kDirect;
  const bool reuse = state.range(1) != 0;
  for (auto _ : state) {
    auto reader = AviFrameReader::Open(kSource, 0, DecoderThreads::kOne, writing);
    if (!reader) {
      state.SkipWithError("the file does not open");
      return;
    }
    std::vector<uint8_t> storage;
    for (uint32_t k = 0; k < kPictures; ++k) {
      auto dib = reader->GetFrame(k * kStep, kLeadingBytes, std::move(storage));
      benchmark::DoNotOptimize(dib);
      if (reuse && dib) storage = std::move(*dib);
    }
  }
  state.SetItemsProcessed(state.iterations() * kPictures);
}

void BM_GrabFrames(benchmark::State& state) {
  if (!std::filesystem::exists(kSource)) {
    state.SkipWithError((std::string(kSource) + " is not there; skipped").c_str());
    return;
  }
  const bool convert = state.range(0) != 0;
  for (auto _ : state) {
    auto reader = AviFrameReader::Open(kSource, 0, DecoderThreads::kOne);
    if (!reader) {
      state.SkipWithError("the file does not open");
      return;
    }
    AviFrameConverter converter;
    std::vector<uint8_t> storage;
    for (uint32_t k = 0; k < kPictures; ++k) {
      auto grabbed = reader->GrabFrame(k * kStep);
      if (!convert || !grabbed) continue;
      auto dib = converter.Convert(*grabbed, kLeadingBytes, std::move(storage));
      benchmark::DoNotOptimize(dib);
      if (dib) storage = std::move(*dib);
    }
  }
  state.SetItemsProcessed(state.iterations() * kPictures);
}

BENCHMARK(BM_ReadFrames)->ArgNames({"plain", "reuse"})->Args({0, 1})->Args({0, 0})->Args({1, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrabFrames)->ArgNames({"convert"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace reel
