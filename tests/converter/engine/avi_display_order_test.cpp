// Which picture an AVI position gives, and which picture lands in every frame of a movie, for
// clips whose chunks hold pictures out of display order (B-frames, plain and packed) and for
// codecs that never reorder. Each picture carries its own index: the top half of picture i is a
// flat grey of level 10 x i (a band moves through the bottom half, so the coders see motion).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>

#include "common/byte_io.h"
#include "converter/engine/frame_timing.h"
#include "job_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/qrx_movie_checks.h"
#include "tests/support/scratch_folder.h"
#include "platform/avifile/avi_file.h"
#include "platform/avifile/avi_frame_reader.h"

namespace reel {
namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kPictures = 24;
constexpr int kLevelStep = 10;
constexpr int kSourceRate = 25;

std::string IndexedPictures() {
  const std::string level = "if(lt(Y\\,24)\\,10*N\\,255*lt(mod(X+3*N\\,32)\\,8))";
  return "-f lavfi -i \"color=c=black:s=" + std::to_string(kWidth) + "x" + std::to_string(kHeight) + ":r=" +
         std::to_string(kSourceRate) + ",format=gbrp,geq=r='" + level + "':g='" + level + "':b='" + level + "'\" ";
}

// The picture index a grey level stands for, or -1 when the level is not near any index.
int IndexOfLevel(int level) {
  const int index = (level + kLevelStep / 2) / kLevelStep;
  return std::abs(level - index * kLevelStep) <= 4 ? index : -1;
}

// For each position of the video stream, whether its chunk carries data, from the file's index
// ("idx1": entries of 16 bytes, chunk id first and size last).
std::vector<bool> ChunksWithData(const std::vector<uint8_t>& file) {
  std::vector<bool> chunks;
  const std::string text(file.begin(), file.end());
  const std::size_t index = text.rfind("idx1");
  if (index == std::string::npos || index + 8 > file.size()) return chunks;
  const std::span<const uint8_t> bytes(file);
  const uint32_t size = LoadU32(bytes.subspan(index + 4).first<4>());
  for (std::size_t at = index + 8; at + 16 <= std::min<std::size_t>(file.size(), index + 8 + size); at += 16) {
    if (text.compare(at, 2, "00") != 0 || (text.compare(at + 2, 2, "dc") != 0 && text.compare(at + 2, 2, "db") != 0)) {
      continue;
    }
    chunks.push_back(LoadU32(bytes.subspan(at + 12).first<4>()) > 0);
  }
  return chunks;
}

// The picture shown at each position when chunks place the pictures: the n-th chunk with data
// shows the n-th picture in display order, and an empty chunk (a dropped frame) the picture
// before it.
std::vector<int> PicturesShown(const std::vector<bool>& chunksWithData) {
  std::vector<int> shown;
  int pictures = 0;
  for (const bool data : chunksWithData) {
    if (data) ++pictures;
    shown.push_back(std::max(pictures - 1, 0));
  }
  return shown;
}

// The picture shown at each position when the pictures' own times place them: the clips made here
// date picture i at position i, so each position shows its own picture, or the last one after it.
std::vector<int> PicturesByTime(std::size_t positions, int pictures) {
  std::vector<int> shown;
  for (std::size_t p = 0; p < positions; ++p) shown.push_back(std::min(static_cast<int>(p), pictures - 1));
  return shown;
}

// How many pictures the ffmpeg tool decodes from the clip's video.
int DecodedPictures(const std::string& path) {
  const test::CommandResult counted = test::RunCommand(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " +
      test::ShellQuoted(std::string_view(path)));
  return counted.status == 0 ? std::atoi(counted.output.c_str()) : -1;
}

struct CodecCase {
  const char* name;
  const char* encoder;  // as ffmpeg -encoders lists it
  const char* arguments;
  bool timedPictures;  // MPEG-4 part 2: each picture header carries its display time
};

void PrintTo(const CodecCase& c, std::ostream* out) { *out << c.name; }

bool EncoderAvailable(const std::string& encoder) {
  return std::system(("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q ' " + encoder + " '").c_str()) == 0;
}

class AviDisplayOrderTest : public ::testing::TestWithParam<CodecCase> {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    if (!EncoderAvailable(GetParam().encoder)) GTEST_SKIP() << "ffmpeg has no " << GetParam().encoder << " encoder";
    source_ = folder_.File(std::string(GetParam().name) + ".avi");
    ASSERT_TRUE(test::RunFfmpegTool(IndexedPictures() + "-frames:v " + std::to_string(kPictures) + " -an -c:v " +
                                GetParam().arguments + " '" + source_ + "'"));
  }

  uint32_t SourceLength() const {
    const auto file = AviFile::Open(source_);
    return file ? file->StreamInfo(0).length : 0;
  }

  std::vector<int> Shown() const {
    const std::vector<int> byChunks = PicturesShown(ChunksWithData(test::ReadAllBytes(source_)));
    if (!GetParam().timedPictures) return byChunks;
    return PicturesByTime(byChunks.size(), DecodedPictures(source_));
  }

  // The index of the picture in a movie frame, from its top half (qrxtool writes rows top first).
  int MovieFrameIndex(const std::string& movie, uint32_t k) {
    const std::optional<test::RgbPicture> picture = test::DecodeMovieFrame(movie, k, folder_.File("frame.ppm"));
    if (!picture) return -2;
    // The pixel a quarter down, in the middle; green has the finest steps in the movie's pixels.
    return IndexOfLevel(picture->At(picture->width / 2, picture->height / 4, 1));
  }

  test::ScratchFolder folder_;
  std::string source_;
};

// The index of the picture in a DIB from the frame reader (stored bottom row first).
int DibIndex(const std::vector<uint8_t>& dib) {
  const std::size_t stride = (kWidth * 3 + 3) & ~3;
  const std::size_t row = kHeight - 1 - kHeight / 4;
  const std::size_t at = kBitmapInfoHeaderSize + row * stride + kWidth / 2 * 3;
  return dib.size() < at + 3 ? -3 : IndexOfLevel(dib[at + 1]);
}

TEST_P(AviDisplayOrderTest, EveryPositionGivesThePictureShownThere) {
  const uint32_t length = SourceLength();
  // An encoder may hold back the last B-frames of a clip; never more than a few.
  ASSERT_GE(length, kPictures - 3u);
  const std::vector<int> shown = Shown();
  ASSERT_EQ(shown.size(), length);
  auto reader = AviFrameReader::Open(source_, 0);
  ASSERT_TRUE(reader);
  for (uint32_t p = 0; p < length; ++p) {
    const auto dib = reader->GetFrame(p);
    ASSERT_TRUE(dib) << p;
    EXPECT_EQ(DibIndex(*dib), shown[p]) << "position " << p;
  }
  // Back to earlier positions, and on from there by skips as a job takes them.
  for (const uint32_t p : {1u, 2u, 5u, 9u, 3u, 7u}) {
    const auto dib = reader->GetFrame(p);
    ASSERT_TRUE(dib) << p;
    EXPECT_EQ(DibIndex(*dib), shown[p]) << "position " << p << " asked for again";
  }
}

TEST_P(AviDisplayOrderTest, EveryMovieFrameShowsTheSelectedPicture) {
  const uint32_t length = SourceLength();
  const std::vector<int> shown = Shown();
  ASSERT_EQ(shown.size(), length);
  for (const FrameRateChoice choice : {FrameRateChoice::kStandard, FrameRateChoice::kHighest}) {
    JobSettings settings = test::SettingsFor(source_, folder_.Path().string());
    settings.frameRateChoice = choice;
    const JobReport report = test::RunJob(settings);
    ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
    const std::string movie = folder_.File(std::string(GetParam().name) + ".qrx");
    const auto timing = ComputeFrameTiming(kSourceRate, length, choice);
    ASSERT_TRUE(timing);
    ASSERT_EQ(test::ReadHeader(movie).frameCount, timing->frameCount);
    for (uint32_t k = 0; k < timing->frameCount; ++k) {
      EXPECT_EQ(MovieFrameIndex(movie, k), shown[SourceFrameFor(k, timing->step)])
          << "frame " << k << " with frame-rate choice " << static_cast<int>(choice);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, AviDisplayOrderTest,
    ::testing::Values(
        // MPEG-4 part 2 with two B-frames between reference pictures, one picture per chunk.
        CodecCase{"mpeg4_b2", "mpeg4", "mpeg4 -bf 2 -q:v 2 -g 12 -sc_threshold 1000000000", true},
        // The Xvid encoder writes B-frames packed into AVI: a reference picture with the B-frame
        // before it in one chunk, the next B-frames alone, then a placeholder chunk. Renumbered,
        // the chunks follow each other as Xvid's own tools write them ...
        CodecCase{"xvid_packed_b1", "libxvid", "libxvid -bf 1 -q:v 2 -bsf:v setts=ts=N", true},
        CodecCase{"xvid_packed_b2", "libxvid", "libxvid -bf 2 -q:v 2 -bsf:v setts=ts=N", true},
        // ... as the encoder dates them, the first packed chunk leaves an empty chunk before it;
        // the pictures still stand at their own times.
        CodecCase{"xvid_packed_gap", "libxvid", "libxvid -bf 1 -q:v 2", true},
        // H.264 with B-pyramids: pictures come out two chunks late.
        CodecCase{"h264_b2", "libx264", "libx264 -bf 2 -x264-params b-adapt=0 -pix_fmt yuv420p", false},
        // Codecs that never reorder.
        CodecCase{"mpeg4_no_b", "mpeg4", "mpeg4 -bf 0 -q:v 2", true},
        CodecCase{"mjpeg", "mjpeg", "mjpeg -q:v 2", false}),
    [](const ::testing::TestParamInfo<CodecCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace reel
