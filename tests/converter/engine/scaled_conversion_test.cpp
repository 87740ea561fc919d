// Pictures converted straight into the scaler, held to the plain way: the whole picture converted,
// then ScalePicture; through the media graph, and through the AVI frame reader for AVI clips. Over chroma layouts, odd widths and heights, shrinking and enlarging along
// either axis, both lane widths, and pictures the sliced way does not take (RGB, a turned picture,
// a size change part way, a 4:2:0 picture of odd height), which must fall back to the plain way.
// Every slice the converter hands on must also be the whole conversion's rows, byte for byte.
#include "converter/engine/scaled_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "platform/avifile/avi_frame_reader.h"
#include "platform/mediagraph/media_graph.h"
#include "tests/support/external_tools.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

constexpr std::chrono::milliseconds kWait{1000};

// Gathers the slices into the whole picture as Convert lays it out: padded rows, bottom row first.
class GatheringSink : public PictureRowSink {
 public:
  void Begin(uint32_t width, uint32_t height, std::size_t /*stride*/) override {
    width_ = width;
    rowBytes_ = (std::size_t{width} * 3 + 3) & ~std::size_t{3};
    rows_.assign(rowBytes_ * height, 0);
    next_ = height;
  }
  void TakeRows(std::span<const uint8_t> rows, uint32_t count, std::size_t stride) override {
    for (uint32_t r = 0; r < count; ++r) {
      ASSERT_GT(next_, 0u);
      --next_;
      std::copy_n(rows.begin() + r * stride, std::size_t{width_} * 3, rows_.begin() + next_ * rowBytes_);
    }
  }
  std::vector<uint8_t> rows_;
  uint32_t next_ = 0;

 private:
  uint32_t width_ = 0;
  std::size_t rowBytes_ = 0;
};

std::optional<BmpImage> WholePicture(GrabbedPictureConverter& converter, const GrabbedPicture& picture) {
  auto bytes = converter.Convert(picture, BmpImage::kHeaderSize);
  if (!bytes) return std::nullopt;
  auto image = BmpImage::Create(picture.Width(), picture.Height(), 24);
  std::vector<uint8_t> all = std::move(*image).TakeBytes();
  std::copy(bytes->begin() + BmpImage::kHeaderSize, bytes->end(), all.begin() + BmpImage::kHeaderSize);
  return BmpImage::FromBytes(std::move(all));
}

struct Size {
  uint32_t width, height;
};

std::optional<BmpImage> WholeDib(AviFrameConverter& converter, const AviGrabbedFrame& frame) {
  constexpr uint32_t kFileHeader = 14;
  auto dib = converter.Convert(frame, kFileHeader);
  if (!dib) return std::nullopt;
  auto image = BmpImage::Create(frame.Width(), frame.Height(), 24);
  std::vector<uint8_t> all = std::move(*image).TakeBytes();
  std::copy(dib->begin() + BmpImage::kHeaderSize, dib->end(), all.begin() + BmpImage::kHeaderSize);
  return BmpImage::FromBytes(std::move(all));
}

// The same through the AVI frame reader, for an AVI clip.
void ExpectFramesMatch(const std::string& path, const std::vector<Size>& sizes, bool sliced) {
  auto reader = AviFrameReader::Open(path, 0);
  ASSERT_TRUE(reader) << reader.error().message;
  AviFrameConverter plain;
  AviFrameConverter fast;
  for (uint32_t position = 0; position < 3; ++position) {
    const auto frame = reader->GrabFrame(position);
    ASSERT_TRUE(frame);
    const std::optional<BmpImage> whole = WholeDib(plain, *frame);
    ASSERT_TRUE(whole);
    EXPECT_EQ(AviFrameConverter::Slices(*frame), sliced);
    if (AviFrameConverter::Slices(*frame)) {
      GatheringSink gathered;
      ASSERT_TRUE(fast.ConvertInSlices(*frame, gathered));
      ASSERT_TRUE(std::equal(gathered.rows_.begin(), gathered.rows_.end(), whole->Bytes().begin() + BmpImage::kHeaderSize))
          << "frame " << position;
    }
    for (const Size size : sizes) {
      const auto expected = ScalePicture(*whole, size.width, size.height);
      const bool viaSlices = ConvertsScaled(*frame, size.width, size.height);
      const auto got = viaSlices ? ConvertScaled(fast, *frame, size.width, size.height)
                                 : ScalePicture(*WholeDib(fast, *frame), size.width, size.height);
      ASSERT_TRUE(expected && got);
      ASSERT_TRUE(std::ranges::equal(got->Bytes(), expected->Bytes()))
          << "frame " << position << " at " << size.width << "x" << size.height << (viaSlices ? " sliced" : "");
    }
  }
}

struct ScaleCase {
  const char* name;
  std::vector<std::string> parts;  // the ffmpeg tool's options for each part of the clip, joined end to end
  std::vector<Size> sizes;         // movie sizes to bring every picture to
  bool sliced;                     // whether the first picture goes the sliced way
  std::string remux = "";          // options of a copy of the clip made after it (a turn's tag)
};

class ScaledConversion : public testing::TestWithParam<ScaleCase> {};

TEST_P(ScaledConversion, GivesTheWholeConversionsScaledBytes) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  const ScaleCase& scale = GetParam();
  test::ScratchFolder folder("scaled_conversion");
  const std::string path = folder.File(scale.name);
  std::ofstream joined(path, std::ios::binary);
  for (std::size_t i = 0; i < scale.parts.size(); ++i) {
    const std::string part = folder.File("part" + std::to_string(i) + "_" + scale.name);
    ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i testsrc2=r=25:s=64x48 " + scale.parts[i] + " -frames:v 3 \"" + part + "\""));
    std::ifstream in(part, std::ios::binary);
    joined << in.rdbuf();
  }
  joined.close();
  const std::string copy = folder.File(std::string("copy_") + scale.name);
  if (!scale.remux.empty()) {
    ASSERT_TRUE(test::RunFfmpegTool("-i \"" + path + "\" -c copy " + scale.remux + " \"" + copy + "\""));
  }
  auto graph = MediaGraph::Render(scale.remux.empty() ? path : copy);
  ASSERT_TRUE(graph) << graph.error().message;
  ASSERT_TRUE(graph->SetPositions(0, std::nullopt));
  GrabbedPictureConverter plain;
  GrabbedPictureConverter fast;
  for (int picture = 0;; ++picture) {
    auto grabbed = graph->GrabCurrentPicture();
    ASSERT_TRUE(grabbed) << grabbed.error().message;
    const std::optional<BmpImage> whole = WholePicture(plain, *grabbed);
    ASSERT_TRUE(whole);
    if (picture == 0) {
      EXPECT_EQ(GrabbedPictureConverter::Slices(*grabbed), scale.sliced);
    }
    if (GrabbedPictureConverter::Slices(*grabbed)) {
      GatheringSink gathered;
      ASSERT_TRUE(fast.ConvertInSlices(*grabbed, gathered));
      EXPECT_EQ(gathered.next_, 0u);
      ASSERT_TRUE(std::equal(gathered.rows_.begin(), gathered.rows_.end(), whole->Bytes().begin() + BmpImage::kHeaderSize))
          << "picture " << picture;
    }
    for (const Size size : scale.sizes) {
      for (const ScalerLanes lanes : {ScalerLanes::Widest, ScalerLanes::Sse2}) {
        const auto expected = ScalePicture(*whole, size.width, size.height, lanes);
        ASSERT_TRUE(expected);
        const bool sliced = ConvertsScaled(*grabbed, size.width, size.height);
        const auto got = sliced ? ConvertScaled(fast, *grabbed, size.width, size.height, lanes)
                                : ScalePicture(*WholePicture(fast, *grabbed), size.width, size.height, lanes);
        ASSERT_TRUE(got);
        ASSERT_TRUE(std::ranges::equal(got->Bytes(), expected->Bytes()))
            << "picture " << picture << " at " << size.width << "x" << size.height << (sliced ? " sliced" : "");
      }
    }
    ASSERT_TRUE(graph->Step());
    if (*graph->WaitForCompletion(kWait) == GraphEvent::kComplete) break;
  }
  if (path.ends_with(".avi")) ExpectFramesMatch(path, scale.sizes, scale.sliced);
}

// Down by area (a step of 1.6, exact halves, the integer division of steps of 64 pixels), up, and
// along one axis alone; the same size as the picture is the plain way's.
const std::vector<Size> kSizes = {{40, 30}, {32, 24}, {1, 1}, {150, 110}, {64, 20}, {23, 48}, {64, 48}};

INSTANTIATE_TEST_SUITE_P(
    Pictures, ScaledConversion,
    testing::Values(
        ScaleCase{"h264_420.mp4", {"-c:v libx264 -bf 2 -pix_fmt yuv420p"}, kSizes, true},
        ScaleCase{"h264_420_tall.mkv", {"-vf scale=62:142 -c:v libx264 -pix_fmt yuv420p"}, {{31, 71}, {20, 50}, {70, 150}}, true},
        ScaleCase{"mjpeg_full_range_420.avi", {"-c:v mjpeg -pix_fmt yuvj420p -q:v 3"}, kSizes, true},
        ScaleCase{"mjpeg_422_odd.avi", {"-vf scale=37:29 -c:v mjpeg -pix_fmt yuvj422p -q:v 3"}, {{20, 15}, {40, 40}}, false},
        ScaleCase{"mjpeg_444_large.avi", {"-vf scale=640:480 -c:v mjpeg -pix_fmt yuvj444p -q:v 3"}, {{320, 240}, {320, 180}}, false},
        ScaleCase{"mjpeg_422_large.avi", {"-vf scale=640:480 -c:v mjpeg -pix_fmt yuvj422p -q:v 3"}, {{320, 240}}, false},
        ScaleCase{"mjpeg_420_large.avi", {"-vf scale=640:480 -c:v mjpeg -pix_fmt yuvj420p -q:v 3"}, {{320, 240}}, true},
        ScaleCase{"h264_420_large.mkv", {"-vf scale=1280:720 -c:v libx264 -pix_fmt yuv420p"}, {{320, 180}}, true},
        ScaleCase{"h264_444_large.mkv", {"-vf scale=640:480 -c:v libx264 -pix_fmt yuv444p"}, {{320, 240}}, false},
        ScaleCase{"mpeg4_420.avi", {"-vf scale=72:40 -c:v mpeg4 -bf 2 -q:v 2"}, {{40, 30}, {36, 20}, {100, 60}}, true},
        ScaleCase{"vp8_odd_width.webm", {"-vf scale=33:24 -c:v libvpx -b:v 1M"}, {{20, 15}, {40, 40}}, true},
        ScaleCase{"vp8_odd_height.webm", {"-vf scale=64:45 -c:v libvpx -b:v 1M"}, {{20, 15}, {40, 40}}, false},
        ScaleCase{"h264_422.mkv", {"-c:v libx264 -pix_fmt yuv422p"}, kSizes, false},
        ScaleCase{"h264_444_odd.mkv", {"-vf scale=33:45 -c:v libx264 -pix_fmt yuv444p"}, {{20, 15}, {40, 50}}, false},
        ScaleCase{"rgb.mkv", {"-c:v png -pix_fmt rgb24"}, {{40, 30}}, false},
        ScaleCase{"paletted.avi", {"-c:v rawvideo -pix_fmt pal8"}, {{40, 30}}, false},
        ScaleCase{"turned.mp4", {"-c:v libx264 -pix_fmt yuv420p"}, {{30, 40}}, false, "-metadata:s:v:0 rotate=90"},
        ScaleCase{"size_change.mpg", {"-c:v mpeg1video -q:v 2 -f mpeg", "-vf scale=48:32 -c:v mpeg1video -q:v 2 -f mpeg"},
                  {{40, 30}, {20, 10}}, true}),
    [](const testing::TestParamInfo<ScaleCase>& clip) {
      std::string name = clip.param.name;
      for (char& c : name) {
        if (c == '.') c = '_';
      }
      return name;
    });

}  // namespace
}  // namespace reel
