// The real files of the shared media set, one per container the converter meets and a few AVI
// files (which the user may force through the media graph): each renders,
// steps from its first picture to its stop position without a gap, and gives its soundtrack whole.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "platform/mediagraph/media_graph.h"
#include "platform/mediagraph/soundtrack_reader.h"
#include "tests/support/shared_media.h"

namespace reel {
namespace {

struct SharedFile {
  const char* name;
  int width, height;
  int64_t avgTimePerFrame;
  double videoSeconds;  // the video stream's own length (a Matroska file's stated length covers its sound)
  uint32_t audioRate;      // 0: the file has no sound
  uint16_t audioChannels;
  double audioSeconds;
};

std::string FileName(const testing::TestParamInfo<SharedFile>& info) {
  std::string name = info.param.name;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

class SharedMedia : public testing::TestWithParam<SharedFile> {
 protected:
  void SetUp() override {
    path_ = test::SharedMediaPath(GetParam().name).string();
    if (!std::filesystem::exists(path_)) GTEST_SKIP() << "shared media file missing: " << path_;
  }
  std::string path_;
};

TEST_P(SharedMedia, StepsThroughEveryFrameTheGraphCounts) {
  const SharedFile& file = GetParam();
  auto graph = MediaGraph::Render(path_);
  ASSERT_TRUE(graph) << graph.error().message;
  const GrabberType& type = graph->ConnectedType();
  EXPECT_EQ(type.width, file.width);
  EXPECT_EQ(type.height, file.height);
  EXPECT_EQ(type.avgTimePerFrame, file.avgTimePerFrame);
  const int64_t frames = graph->Duration(TimeFormat::kFrame);
  const double seconds = static_cast<double>(graph->Duration(TimeFormat::kMediaTime)) / kMediaTimePerSecond;
  EXPECT_NEAR(seconds, file.videoSeconds, 0.25);
  EXPECT_NEAR(static_cast<double>(frames), file.videoSeconds * kMediaTimePerSecond / static_cast<double>(type.avgTimePerFrame), 3.0);

  ASSERT_TRUE(graph->SetPositions(0, frames - 1));
  int64_t pictures = 1;
  while (true) {
    ASSERT_TRUE(graph->Step());
    auto event = graph->WaitForCompletion(std::chrono::seconds(1));
    ASSERT_TRUE(event) << event.error().message;
    if (*event == GraphEvent::kComplete) break;
    ++pictures;
    ASSERT_LE(pictures, frames);
  }
  // Every frame the graph counts is a picture it delivers (a stream may end a picture or two short
  // of what its container says).
  EXPECT_NEAR(static_cast<double>(pictures), static_cast<double>(frames), 2.0);
  auto rows = graph->GetCurrentBuffer();
  ASSERT_TRUE(rows) << rows.error().message;
  EXPECT_EQ(rows->size(), type.sampleSize);
}

TEST_P(SharedMedia, GivesItsSoundtrackWhole) {
  const SharedFile& file = GetParam();
  auto soundtrack = ReadSoundtrack(path_);
  ASSERT_TRUE(soundtrack) << soundtrack.error().message;
  if (file.audioRate == 0) {
    EXPECT_FALSE(soundtrack->has_value());
    return;
  }
  ASSERT_TRUE(soundtrack->has_value());
  const PcmFormat& format = (*soundtrack)->format;
  EXPECT_EQ(format.formatTag, 1);
  EXPECT_EQ(format.samplesPerSec, file.audioRate);
  EXPECT_EQ(format.channels, file.audioChannels);
  EXPECT_EQ(format.bitsPerSample, 16);
  const double seconds =
      static_cast<double>((*soundtrack)->data.size() / format.blockAlign) / static_cast<double>(format.samplesPerSec);
  EXPECT_NEAR(seconds, file.audioSeconds, 0.3);
}

const SharedFile kFiles[] = {
    {"mpeg1ps_vcd_ntsc_352x240_2997_mp2.mpg", 352, 240, 333667, 10.0, 44100, 2, 10.0},
    {"mpeg1ps_vcd_pal_352x288_25_mp2.mpg", 352, 288, 400000, 8.0, 44100, 2, 8.0},
    {"mp4_h264_aac_640x360_23976.mp4", 640, 360, 417083, 15.64, 48000, 2, 15.65},
    {"mov_h264_aac_320x180_10fps.mov", 320, 180, 1000000, 7.2, 22050, 1, 7.3},
    {"mkv_msmpeg4v2_mp3_854x480_24fps.mkv", 854, 480, 416667, 4.17, 48000, 2, 4.3},
    {"webm_vp8_vorbis_560x320_30fps.webm", 560, 320, 333333, 5.5, 48000, 1, 5.5},
    {"ogv_theora_vorbis_560x320_30fps.ogv", 560, 320, 333333, 5.5, 48000, 1, 5.5},
    {"flv_flv1_mp3_320x240_25fps.flv", 320, 240, 400000, 5.5, 44100, 1, 5.5},
    // AVI files come this way when the user forces the media graph.
    {"avi_xvid_400x300_25fps_noaudio.avi", 400, 300, 400000, 1.04, 0, 0, 0.0},
    {"avi_divx_568x320_30fps_noaudio.avi", 568, 320, 333333, 3.37, 0, 0, 0.0},
    {"avi_mjpeg_pcm16_352x240_2997.avi", 352, 240, 333667, 4.0, 44100, 2, 4.0},
    {"avi_dib_rgb24_160x120_10fps_msadpcm.avi", 160, 120, 1000000, 3.0, 22050, 1, 3.0},
};
INSTANTIATE_TEST_SUITE_P(Files, SharedMedia, testing::ValuesIn(kFiles), FileName);

}  // namespace
}  // namespace reel
