// The frame decoder against libjpeg-turbo on the same picture.
//
// One picture is compressed as a baseline 4:2:0 JPEG at quality 50 by the converter's own JPEG
// stage; that JPEG's coefficients are coded as our frame exactly as a conversion job does it. Then
// the frame is decoded with DecodeFrame, and the JPEG with libjpeg-turbo straight to RGB565, both
// into a buffer of the picture's size. Compare the CPU times of BM_OurFrame and BM_Libjpeg with the
// same picture and size: libjpeg-turbo's accurate integer transform (JDCT_ISLOW) is the one that
// matches our integer arithmetic; it is run without dithering (the same job as ours), with its
// default ordered dithering, and without fancy upsampling (nearest-neighbour chroma, as ours).
//
// BM_OurFrame with plain:1 runs the decoder with its plain C++ kernels only.
//
// Pictures: "camera", a real photograph from the shared media scaled by the converter's scaler
// (skipped when the media are absent), and "scene", the generated natural-looking scene.
#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "converter/coder/frame_coder.h"
#include "converter/coder/picture_scaler.h"
#include "converter/jpeg/byte_source.h"
#include "converter/jpeg/frame_jpeg.h"
#include "converter/jpeg/jpeg_coef_reader.h"
#include "player/video/frame_decoder.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

constexpr int32_t kQuality = 50;
constexpr const char* kCameraFile = "jpeg_camera_420_800x532.jpg";

enum class Picture : int64_t { kCamera = 0, kScene = 1 };

std::optional<BmpImage> CameraPicture() {
  const std::filesystem::path path = std::filesystem::path(REEL_SHARED_MEDIA_DIR) / kCameraFile;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  return DecodeFrameJpeg(bytes);
}

// The generated scene as a bottom-up 24-bit picture (blue, green, red), top row stored last.
std::optional<BmpImage> ScenePicture(uint32_t width, uint32_t height) {
  const RgbPicture scene = MakeSamplePicture(width, height, 3);
  auto image = BmpImage::Create(width, height);
  if (!image) return std::nullopt;
  for (uint32_t y = 0; y < height; ++y) {
    const std::span<uint8_t> row = image->Row(height - 1 - y);
    for (uint32_t x = 0; x < width; ++x) {
      const std::size_t from = (std::size_t{y} * width + x) * 3;
      row[x * 3] = scene.rgb[from + 2];
      row[x * 3 + 1] = scene.rgb[from + 1];
      row[x * 3 + 2] = scene.rgb[from];
    }
  }
  return image;
}

struct BothForms {
  std::vector<uint8_t> jpeg;
  std::vector<uint8_t> frame;
};

// The JPEG and the frame coded from its coefficients, as a conversion job makes them.
std::optional<BothForms> MakeBothForms(Picture which, uint32_t width, uint32_t height) {
  std::optional<BmpImage> source =
      which == Picture::kCamera ? CameraPicture() : ScenePicture(width, height);
  if (!source) return std::nullopt;
  const auto scaled = ScalePicture(*source, width, height);
  if (!scaled) return std::nullopt;
  auto jpeg = EncodeFrameJpeg(*scaled, kQuality);
  if (!jpeg) return std::nullopt;
  CByteSource bytes(*jpeg);
  CJpegCoefReader reader;
  if (!reader.Decode(bytes)) return std::nullopt;
  auto frame = CodeCoefficients(reader.TakeCoefficients(), kQuality);
  if (!frame) return std::nullopt;
  return BothForms{std::move(*jpeg), std::move(*frame)};
}

void SetLabel(benchmark::State& state, Picture which, const BothForms& forms,
              const std::string& how = "") {
  state.SetLabel(std::string(which == Picture::kCamera ? "camera" : "scene") + ", jpeg " +
                 std::to_string(forms.jpeg.size()) + " B, frame " +
                 std::to_string(forms.frame.size()) + " B" + (how.empty() ? "" : ", " + how));
}

void BM_OurFrame(benchmark::State& state) {
  const auto width = static_cast<uint32_t>(state.range(0));
  const auto height = static_cast<uint32_t>(state.range(1));
  const auto which = static_cast<Picture>(state.range(2));
  const Kernels kernels = state.range(3) == 0 ? Kernels::kFastest : Kernels::kPlain;
  const auto forms = MakeBothForms(which, width, height);
  if (!forms) {
    state.SkipWithError("the picture could not be made (shared media absent?)");
    return;
  }
  std::vector<uint16_t> pixels(std::size_t{PaddedSize(width)} * PaddedSize(height));
  FrameDecoder decoder(kernels);
  decoder.SetPictureBuffer(pixels);
  for (auto _ : state) {
    const bool decoded = decoder.DecodeFrame(forms->frame).ok();
    benchmark::DoNotOptimize(decoded);
    benchmark::ClobberMemory();
  }
  SetLabel(state, which, *forms, kernels == Kernels::kPlain ? "plain kernels" : "");
}

enum class LibjpegMode : int64_t { kNoDither = 0, kDither = 1, kNoDitherNoFancy = 2 };

struct ErrorExit {
  jpeg_error_mgr manager{};
  std::jmp_buf jump{};
};

[[noreturn]] void JumpOut(j_common_ptr info) {
  auto* error = reinterpret_cast<ErrorExit*>(info->err);  // manager is the first member
  std::longjmp(error->jump, 1);
}

// Decodes `jpeg` to RGB565 into `pixels` (rows of the picture's width); false on a library error.
// The decompressor is set up once by the caller and reused for every picture, as a player would.
bool DecodeWithLibjpeg(jpeg_decompress_struct& info, ErrorExit& error,
                       const std::vector<uint8_t>& jpeg, LibjpegMode mode,
                       std::vector<uint16_t>& pixels, std::vector<JSAMPROW>& rows) {
  if (setjmp(error.jump) != 0) {
    jpeg_abort_decompress(&info);
    return false;
  }
  jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB565;
  info.dct_method = JDCT_ISLOW;
  info.dither_mode = mode == LibjpegMode::kDither ? JDITHER_ORDERED : JDITHER_NONE;
  info.do_fancy_upsampling = mode == LibjpegMode::kNoDitherNoFancy ? FALSE : TRUE;
  jpeg_start_decompress(&info);
  while (info.output_scanline < info.output_height) {
    jpeg_read_scanlines(&info, rows.data() + info.output_scanline,
                        info.output_height - info.output_scanline);
  }
  jpeg_finish_decompress(&info);
  return pixels.size() >= std::size_t{info.output_width} * info.output_height;
}

void BM_Libjpeg(benchmark::State& state) {
  const auto width = static_cast<uint32_t>(state.range(0));
  const auto height = static_cast<uint32_t>(state.range(1));
  const auto which = static_cast<Picture>(state.range(2));
  const auto mode = static_cast<LibjpegMode>(state.range(3));
  const auto forms = MakeBothForms(which, width, height);
  if (!forms) {
    state.SkipWithError("the picture could not be made (shared media absent?)");
    return;
  }
  std::vector<uint16_t> pixels(std::size_t{width} * height);
  std::vector<JSAMPROW> rows(height);
  for (uint32_t y = 0; y < height; ++y) {
    rows[y] = reinterpret_cast<JSAMPROW>(pixels.data() + std::size_t{y} * width);
  }
  jpeg_decompress_struct info{};
  ErrorExit error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JumpOut;
  jpeg_create_decompress(&info);
  bool decoded = true;
  for (auto _ : state) {
    decoded = DecodeWithLibjpeg(info, error, forms->jpeg, mode, pixels, rows);
    benchmark::DoNotOptimize(decoded);
    benchmark::ClobberMemory();
    if (!decoded) break;
  }
  jpeg_destroy_decompress(&info);
  if (!decoded) state.SkipWithError("libjpeg-turbo refused the JPEG");
  static constexpr const char* kModes[] = {"islow, no dither", "islow, ordered dither",
                                           "islow, no dither, no fancy upsampling"};
  SetLabel(state, which, *forms, kModes[state.range(3)]);
}

void Sizes(benchmark::internal::Benchmark* bench, bool withModes) {
  for (int64_t picture : {0, 1}) {
    for (auto [w, h] : {std::pair{320, 240}, std::pair{640, 480}}) {
      for (int64_t mode : {0, 1, 2}) {
        if (withModes || mode < 2) bench->Args({w, h, picture, mode});
      }
    }
  }
  bench->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_OurFrame)->ArgNames({"w", "h", "pic", "plain"})->Apply([](auto* b) { Sizes(b, false); });
BENCHMARK(BM_Libjpeg)->ArgNames({"w", "h", "pic", "mode"})->Apply([](auto* b) { Sizes(b, true); });

}  // namespace
}  // namespace reel
