// Grabbed pictures to the movie's size: 30 pictures of the shared 720 x 480 Xvid AVI brought to
// 320 x 240, the plain way (the whole DIB converted into reused storage, then ScalePicture) beside
// the sliced way (converted a slice at a time straight into the scaler). The pictures are decoded
// once, before timing. Skipped when the file is not there.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/byte_io.h"
#include "converter/coder/picture_scaler.h"
#include "converter/engine/scaled_conversion.h"
#include "platform/avifile/avi_frame_reader.h"

namespace reel {
namespace {

constexpr const char* kSource = REEL_SHARED_MEDIA_DIR "/avi_xvid_mp3_720x480_2997.avi";
constexpr uint32_t kPictures = 30;
constexpr uint32_t kFileHeader = 14;
constexpr uint32_t kWidth = 320;
constexpr uint32_t kHeight = 240;

std::vector<AviGrabbedFrame> GrabFrames() {
  std::vector<AviGrabbedFrame> frames;
  auto reader = AviFrameReader::Open(kSource, 0, DecoderThreads::kOne);
  if (!reader) return frames;
  for (uint32_t k = 0; k < kPictures; ++k) {
    if (auto frame = reader->GrabFrame(2 * k)) frames.push_back(std::move(*frame));
  }
  return frames;
}

// The plain way, as a job's coder thread takes it: the DIB in storage handed back, then scaled.
std::optional<BmpImage> Whole(AviFrameConverter& converter, const AviGrabbedFrame& frame, std::vector<uint8_t>& spare) {
  auto dib = converter.Convert(frame, kFileHeader, std::move(spare));
  if (!dib) return std::nullopt;
  std::span<uint8_t> header(*dib);
  header[0] = 'B';
  header[1] = 'M';
  StoreU32(header.subspan<2, 4>(), static_cast<uint32_t>(dib->size()));
  StoreU32(header.subspan<10, 4>(), BmpImage::kHeaderSize);
  auto picture = BmpImage::FromBytes(std::move(*dib));
  if (!picture) return std::nullopt;
  auto scaled = ScalePicture(*picture, kWidth, kHeight);
  spare = std::move(*picture).TakeBytes();
  return scaled;
}

void BM_ToMovieSize(benchmark::State& state) {
  if (!std::filesystem::exists(kSource)) {
    state.SkipWithError((std::string(kSource) + " is not there; skipped").c_str());
    return;
  }
  const std::vector<AviGrabbedFrame> frames = GrabFrames();
  const bool sliced = state.range(0) != 0;
  AviFrameConverter converter;
  std::vector<uint8_t> spare;
  for (auto _ : state) {
    for (const AviGrabbedFrame& frame : frames) {
      auto scaled = sliced ? ConvertScaled(converter, frame, kWidth, kHeight) : Whole(converter, frame, spare);
      benchmark::DoNotOptimize(scaled);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(frames.size()));
}
BENCHMARK(BM_ToMovieSize)->ArgName("sliced")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace reel
