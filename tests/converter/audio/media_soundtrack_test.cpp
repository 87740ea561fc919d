// Real AVI soundtracks from the shared media set, through both stages and the MP3 encoder with
// the default settings (22050 Hz stereo at 64 kbit/s).
#include <gtest/gtest.h>

#include <filesystem>

#include "audio_test_support.h"
#include "converter/audio/mp3_encoder.h"
#include "converter/audio/sound_format_conversion.h"
#include "tests/support/mp3_decoding.h"
#include "tests/support/scoped_registry.h"
#include "tests/support/shared_media.h"

namespace reel {
namespace {

struct MediaCase {
  const char* file;
  uint16_t tag;
  double seconds;  // the stream's length, from the media set's description
};

class MediaSoundtrack : public testing::TestWithParam<MediaCase> {
 protected:
  test::ScopedRegistry registry_{REEL_GOGO_PATH};
};

TEST_P(MediaSoundtrack, BecomesACompanionMp3OfTheSameLength) {
  const MediaCase& media = GetParam();
  const std::filesystem::path path = test::SharedMediaPath(media.file);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "shared media file missing: " << path;
  const auto clip = test::ReadAviSoundtrack(path);
  ASSERT_TRUE(clip);
  ASSERT_EQ(clip->format.wave.formatTag, media.tag);

  const FirstStageResult pcm = ConvertSoundtrackToPcm(clip->format, clip->data);
  ASSERT_TRUE(pcm.decoded);
  const WAVEFORMATEX& format = pcm.soundtrack.format;
  ASSERT_GT(format.blockAlign, 0);
  const double pcmSeconds =
      static_cast<double>(pcm.soundtrack.data.size() / format.blockAlign) / format.samplesPerSec;
  EXPECT_NEAR(pcmSeconds, media.seconds, 0.25);

  const EncodedAudio mp3 = EncodeMp3(pcm.soundtrack.data, format, {AudioEncoder::kMp3, 3, false, true});
  ASSERT_EQ(mp3.outcome, AudioOutcome::kEncoded);
  const auto decoded = test::DecodeMp3Bytes(mp3.bytes, test::Mp3Decoding::kGapless);
  ASSERT_TRUE(decoded && decoded->complete);
  EXPECT_EQ(decoded->rate, 22050u);
  EXPECT_EQ(decoded->channels, 2);
  EXPECT_NEAR(static_cast<double>(decoded->Frames()), pcmSeconds * 22050, 576.0);
  EXPECT_GT(test::Rms(decoded->samples), 100.0);  // sound, not silence
}

INSTANTIATE_TEST_SUITE_P(
    SharedMedia, MediaSoundtrack,
    testing::Values(MediaCase{"avi_cinepak_imaadpcm_320x240_15fps.avi", kWaveFormatImaAdpcm, 5.0},
                    MediaCase{"avi_dib_rgb24_160x120_10fps_msadpcm.avi", kWaveFormatMsAdpcm, 3.0},
                    MediaCase{"avi_fmp4_mp2_480x360_25fps.avi", kWaveFormatMpeg, 20.0},
                    MediaCase{"avi_mjpeg_pcm16_352x240_2997.avi", kWaveFormatPcm, 4.0},
                    MediaCase{"avi_mjpeg_pcmu8_160x120_15fps.avi", kWaveFormatPcm, 4.53},
                    MediaCase{"avi_xvid_mp3_720x480_2997.avi", kWaveFormatMpegLayer3, 31.6}),
    [](const testing::TestParamInfo<MediaCase>& param) {
      std::string name = param.param.file;
      return name.substr(4, name.find('_', 4) - 4) + std::to_string(param.index);
    });

}  // namespace
}  // namespace reel
