// The real AVI files of the shared media set: every one converts into a movie that qrxtool
// accepts, with the rate, size and frame count of the frame-rate arithmetic, and an MP3 as long as
// the source's sound.
#include <gtest/gtest.h>

#include "job_test_support.h"
#include "tests/support/qrx_movie_checks.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/shared_media.h"

namespace reel {
namespace {

struct MediaCase {
  const char* file;
  uint32_t frames, rate, width, height;
  bool sound;
  bool longClip = false;  // hundreds of frames: a minute of coding in an unoptimised sanitizer build
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizerBuild = true;
#else
constexpr bool kSanitizerBuild = false;
#endif

class SharedMediaJobTest : public ::testing::TestWithParam<MediaCase> {};

TEST_P(SharedMediaJobTest, Converts) {
  const MediaCase& c = GetParam();
  const std::filesystem::path source = test::SharedMediaPath(c.file);
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "shared media file " << source << " is not present";
  if (c.longClip && kSanitizerBuild) GTEST_SKIP() << "long clip; converted in the optimised build only";
  test::ScratchFolder folder;
  const JobReport report = test::RunJob(test::SettingsFor(source.string(), folder.Path().string()));
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  const std::string stem = source.stem().string();
  const std::string movie = folder.File(stem + ".qrx");
  const QrxHeader header = test::ReadHeader(movie);
  EXPECT_EQ(header.frameCount, c.frames);
  EXPECT_EQ(header.frameRate, c.rate);
  EXPECT_EQ(header.width, c.width);
  EXPECT_EQ(header.height, c.height);
  EXPECT_TRUE(test::Verified(movie));
  const std::string sound = folder.File(stem + ".mp3");
  EXPECT_EQ(std::filesystem::exists(sound), c.sound);
  if (!c.sound) return;
  const auto expected = test::AudioDuration(source.string());
  const auto actual = test::AudioDuration(sound);
  ASSERT_TRUE(expected && actual);
  EXPECT_NEAR(*actual, *expected, 0.2);
}

INSTANTIATE_TEST_SUITE_P(
    Avi, SharedMediaJobTest,
    ::testing::Values(MediaCase{"avi_cinepak_imaadpcm_320x240_15fps.avi", 75, 15, 320, 240, true},
                      MediaCase{"avi_dib_rgb24_160x120_10fps_msadpcm.avi", 30, 10, 320, 240, true},
                      MediaCase{"avi_divx_568x320_30fps_noaudio.avi", 50, 15, 320, 180, false},
                      MediaCase{"avi_fmp4_520x380_18fps_noaudio.avi", 90, 9, 320, 233, false},
                      MediaCase{"avi_fmp4_mp2_480x360_25fps.avi", 240, 12, 320, 240, true, true},
                      MediaCase{"avi_mjpeg_pcm16_352x240_2997.avi", 60, 15, 320, 218, true},
                      MediaCase{"avi_mjpeg_pcmu8_160x120_15fps.avi", 68, 15, 320, 240, true},
                      MediaCase{"avi_xvid_400x300_25fps_noaudio.avi", 12, 12, 320, 240, false},
                      MediaCase{"avi_xvid_mp3_720x480_2997.avi", 472, 15, 320, 213, true, true}),
    [](const auto& param) {
      std::string name = param.param.file;
      name = name.substr(0, name.find('.'));
      return name;
    });

}  // namespace
}  // namespace reel
