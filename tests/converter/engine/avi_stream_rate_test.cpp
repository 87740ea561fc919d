// A video stream's rate is its header's own dwRate / dwScale, unreduced, and a rate or scale of 0
// is refused instead of being taken for 25 frames per second.
#include <gtest/gtest.h>

#include <fstream>

#include "common/byte_io.h"
#include "job_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/qrx_movie_checks.h"
#include "tests/support/scratch_folder.h"
#include "platform/avifile/avi_file.h"

namespace reel {
namespace {

class AviStreamRateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    source_ = folder_.File("clip.avi");
    ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i testsrc=size=160x120:rate=15 -f lavfi -i sine=duration=2 "
                                "-frames:v 30 -c:v mjpeg -c:a pcm_s16le '" + source_ + "'"));
  }

  // Writes dwScale and dwRate (bytes 20 and 24 of the video stream header) into the clip.
  void PatchVideoRate(uint32_t scale, uint32_t rate) {
    auto bytes = test::ReadAllBytes(source_);
    const std::string text(bytes.begin(), bytes.end());
    std::size_t header = text.find("strh");  // the chunk id, its size, then the type "vids"
    while (header != std::string::npos && text.compare(header + 8, 4, "vids") != 0) header = text.find("strh", header + 4);
    ASSERT_NE(header, std::string::npos);
    const std::span<uint8_t> fields = std::span<uint8_t>(bytes).subspan(header + 8 + 20);
    StoreU32(fields.subspan<0, 4>(), scale);
    StoreU32(fields.subspan<4, 4>(), rate);
    std::ofstream(source_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  test::ScratchFolder folder_;
  std::string source_;
};

TEST_F(AviStreamRateTest, ScaleAndRateAreTheHeadersOwn) {
  PatchVideoRate(2000, 50000);  // 25 frames per second, written unreduced
  const auto file = AviFile::Open(source_);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->StreamInfo(0).scale, 2000u);
  EXPECT_EQ(file->StreamInfo(0).rate, 50000u);
  EXPECT_EQ(file->StreamInfo(0).length, 30u);
  EXPECT_EQ(file->StreamInfo(1).fccType, kStreamTypeAudio);  // the sound stream keeps its own header
  EXPECT_NE(file->StreamInfo(1).rate, 50000u);

  const JobReport report = test::RunJob(test::SettingsFor(source_, folder_.Path().string()));
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  const QrxHeader header = test::ReadHeader(folder_.File("clip.qrx"));
  EXPECT_EQ(header.frameRate, 12u);
  EXPECT_EQ(header.frameCount, 14u);  // 3000 / 208
}

TEST_F(AviStreamRateTest, ARateOrScaleOfZeroIsRefused) {
  for (const auto& [scale, rate] : {std::pair<uint32_t, uint32_t>{1, 0}, {0, 15}, {0, 0}}) {
    PatchVideoRate(scale, rate);
    const auto file = AviFile::Open(source_);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->StreamInfo(0).scale, scale);
    EXPECT_EQ(file->StreamInfo(0).rate, rate);
    const auto before = folder_.Names();
    const JobReport report = test::RunJob(test::SettingsFor(source_, folder_.Path().string()));
    EXPECT_EQ(report.status, JobStatus::kFailed) << scale << " / " << rate;
    EXPECT_EQ(folder_.Names(), before) << scale << " / " << rate;  // nothing written, not even the sound
  }
}

}  // namespace
}  // namespace reel
