// Which picture each position of a video shows, on both readers (the AVI layer and the media
// graph), against the ffmpeg tool's own display-order decode of the same file, picture by picture.
// The clips are the kinds that make a slip show: a slow fade (each picture a few grey levels from
// the next, so a picture one place off is still "nearly right" to the eye, but not to a
// comparison), noise, and moving pictures, coded with B-frames by MPEG-4 part 2 (plain, and
// Xvid's packed chunks as that encoder dates them, with empty chunks before the first packed one)
// and by H.264.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/avifile/avi_file.h"
#include "platform/avifile/avi_frame_reader.h"
#include "platform/mediagraph/media_graph.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

constexpr int kPictures = 60;
// How many places either way a shown picture is looked for among the source's pictures.
constexpr int kSearch = 4;

// lavfi graphs at 30 pictures a second; the size is put in front.
const std::string kFade = "color=c=black:r=30,format=gray,geq=lum='min(255\\,4*N)'";
const std::string kFadeIn = "testsrc2=r=30,fade=in:0:60";
const std::string kNoise = "nullsrc=r=30,geq=lum='random(1)*255':cb=128:cr=128";
const std::string kMoving = "mandelbrot=r=30";

struct OrderCase {
  const char* name;
  const char* encoder;  // as ffmpeg -encoders lists it
  std::string source;
  const char* coding;
  const char* container;
  int width = 160;
  int height = 120;

  std::size_t PictureBytes() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3; }
  std::string Graph() const {
    const std::size_t split = source.find_first_of("=,");
    return source.substr(0, split) + "=s=" + std::to_string(width) + "x" + std::to_string(height) + ":" +
           source.substr(split + 1);
  }
};

void PrintTo(const OrderCase& c, std::ostream* out) { *out << c.name; }

bool EncoderAvailable(const std::string& encoder) {
  return std::system(("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q ' " + encoder + " '").c_str()) == 0;
}

using Picture = std::vector<uint8_t>;  // top row first, blue, green, red

double Difference(const Picture& a, const Picture& b) {
  if (a.size() != b.size()) return std::numeric_limits<double>::max();
  uint64_t sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += static_cast<uint64_t>(std::abs(a[i] - b[i]));
  return static_cast<double>(sum) / static_cast<double>(a.size());
}

// Padded rows, bottom row first (a DIB's or the grabber's), as a top-down picture.
Picture FromBottomUp(const uint8_t* rows, int width, int height) {
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  const std::size_t stride = (rowBytes + 3) & ~std::size_t{3};
  Picture picture;
  picture.reserve(rowBytes * static_cast<std::size_t>(height));
  for (int row = height; row-- > 0;) {
    const uint8_t* from = rows + stride * static_cast<std::size_t>(row);
    picture.insert(picture.end(), from, from + rowBytes);
  }
  return picture;
}

class PictureOrder : public ::testing::TestWithParam<OrderCase> {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    if (!EncoderAvailable(GetParam().encoder)) GTEST_SKIP() << "ffmpeg has no " << GetParam().encoder << " encoder";
    source_ = folder_.File(std::string(GetParam().name) + "." + GetParam().container);
    ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i \"" + GetParam().Graph() + "\" -frames:v " +
                                    std::to_string(kPictures) + " -an " + GetParam().coding + " " +
                                    test::ShellQuoted(std::string_view(source_))));
    // Every picture once, in the order the decoder hands them out, at the colour conversion the
    // readers use.
    const std::string decoded = folder_.File("decoded.bgr");
    ASSERT_TRUE(test::RunFfmpegTool("-i " + test::ShellQuoted(std::string_view(source_)) +
                                    " -sws_flags fast_bilinear -vsync passthrough -f rawvideo -pix_fmt bgr24 " +
                                    test::ShellQuoted(std::string_view(decoded))));
    const std::vector<uint8_t> bytes = test::ReadAllBytes(decoded);
    const std::size_t size = GetParam().PictureBytes();
    for (std::size_t at = 0; at + size <= bytes.size(); at += size) {
      displayOrder_.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                 bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
    }
    // An encoder may hold back the last B-frames of a clip; never more than a few.
    ASSERT_GE(displayOrder_.size(), kPictures - 3u);
  }

  // Position p shows picture p of the display order (the clips date picture i at position i),
  // or the last picture after the end. Checked as a viewer would: of the source's pictures near
  // p, the one shown must be the closest.
  void ExpectShownAt(int64_t position, const Picture& shown, const char* path) {
    const int64_t last = static_cast<int64_t>(displayOrder_.size()) - 1;
    const int64_t expected = std::min(position, last);
    const double own = Difference(shown, displayOrder_[static_cast<std::size_t>(expected)]);
    int64_t closest = expected;
    const int64_t lastNear = std::min(last, expected + kSearch);
    for (int64_t other = std::max<int64_t>(0, expected - kSearch); other <= lastNear; ++other) {
      if (Difference(shown, displayOrder_[static_cast<std::size_t>(other)]) < own - 0.5) closest = other;
    }
    EXPECT_EQ(closest, expected) << path << ": position " << position << " shows picture " << closest;
  }

  test::ScratchFolder folder_{"picture-order"};
  std::string source_;
  std::vector<Picture> displayOrder_;
};

TEST_P(PictureOrder, EveryPositionShowsThePictureTheDisplayOrderHasThere) {
  const int width = GetParam().width;
  const int height = GetParam().height;
  if (std::string(GetParam().container) == "avi") {
    const auto file = AviFile::Open(source_);
    ASSERT_TRUE(file) << file.error().message;
    const uint32_t length = file->StreamInfo(0).length;
    auto reader = AviFrameReader::Open(source_, 0);
    ASSERT_TRUE(reader) << reader.error().message;
    for (uint32_t p = 0; p < length; ++p) {
      const auto dib = reader->GetFrame(p);
      ASSERT_TRUE(dib && dib->size() >= kBitmapInfoHeaderSize + GetParam().PictureBytes()) << "position " << p;
      ExpectShownAt(p, FromBottomUp(dib->data() + kBitmapInfoHeaderSize, width, height), "AVI layer");
    }
  }
  auto graph = MediaGraph::Render(source_);
  ASSERT_TRUE(graph) << graph.error().message;
  for (int64_t p = 0; p < graph->Duration(TimeFormat::kFrame); ++p) {
    ASSERT_TRUE(graph->SetPositions(p, std::nullopt));
    const auto rows = graph->GetCurrentBuffer();
    ASSERT_TRUE(rows) << rows.error().message;
    ASSERT_GE(rows->size(), GetParam().PictureBytes());
    ExpectShownAt(p, FromBottomUp(rows->data(), width, height), "media graph");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Clips, PictureOrder,
    ::testing::Values(
        // MPEG-4 part 2 with two B-frames between references, one picture per chunk.
        OrderCase{"fade_mpeg4", "mpeg4", kFade, "-c:v mpeg4 -bf 2 -q:v 2 -vtag FMP4", "avi"},
        OrderCase{"noise_mpeg4", "mpeg4", kNoise, "-c:v mpeg4 -bf 2 -q:v 2 -vtag FMP4", "avi"},
        OrderCase{"moving_mpeg4", "mpeg4", kMoving, "-c:v mpeg4 -bf 2 -q:v 2 -vtag FMP4", "avi"},
        // Xvid's packed B-frames, dated as the encoder dates them: the chunks run late by the
        // empty chunks before the first packed one, the pictures' own times do not. (The flat
        // fade is coded with B-frames only at this size.)
        OrderCase{"fade_xvid", "libxvid", kFade, "-c:v libxvid -bf 2", "avi", 320, 240},
        OrderCase{"fade_in_xvid", "libxvid", kFadeIn, "-c:v libxvid -bf 2", "avi"},
        OrderCase{"moving_xvid", "libxvid", kMoving, "-c:v libxvid -bf 2 -q:v 2", "avi"},
        // H.264 with B-frames, in AVI (chunk order only) and in Matroska (presentation times).
        OrderCase{"noise_h264", "libx264", kNoise, "-c:v libx264 -bf 2 -pix_fmt yuv420p", "avi"},
        OrderCase{"fade_h264", "libx264", kFade, "-c:v libx264 -bf 2 -pix_fmt yuv420p", "mkv"}),
    [](const ::testing::TestParamInfo<OrderCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace reel
