// The formats of a media-framework soundtrack: the intermediate format, and what the decoder is
// asked for so that one conversion does the work of the two stages.
#include <gtest/gtest.h>

#include "converter/audio/soundtrack_extraction.h"

namespace reel {
namespace {

TEST(SoundtrackFormatTest, IntermediateIsStereoAtTheSourceRateOnlyFor44100And22050) {
  EXPECT_EQ(IntermediateSoundtrackFormat(44100).samplesPerSec, 44100u);
  EXPECT_EQ(IntermediateSoundtrackFormat(22050).samplesPerSec, 22050u);
  for (const uint32_t rate : {48000u, 32000u, 11025u, 96000u}) {
    const WAVEFORMATEX format = IntermediateSoundtrackFormat(rate);
    EXPECT_EQ(format.samplesPerSec, 22050u) << rate;
    EXPECT_EQ(format.channels, 2);
    EXPECT_EQ(format.bitsPerSample, 16);
    EXPECT_EQ(format.blockAlign, 4);
    EXPECT_EQ(format.avgBytesPerSec, 22050u * 4);
  }
}

struct DecodedCase {
  uint32_t sourceRate;
  uint16_t sourceChannels;
  bool highRate, stereo;
  uint32_t rate;
  uint16_t channels;
};

TEST(SoundtrackFormatTest, DecoderGoesAsFarAsBothStagesTogether) {
  const DecodedCase cases[] = {
      {48000, 2, true, true, 22050, 2},   // the intermediate's band limit is kept; doubled after
      {48000, 2, false, true, 22050, 2},
      {44100, 2, false, true, 22050, 2},  // halved once instead of twice
      {44100, 2, true, true, 44100, 2},
      {44100, 1, false, false, 22050, 1}, // mono made stereo and back is mono
      {44100, 1, false, true, 22050, 2},
      {32000, 2, false, false, 22050, 2}, // two channels to one stays the converter's
  };
  for (const DecodedCase& c : cases) {
    PcmFormat source;
    source.samplesPerSec = c.sourceRate;
    source.channels = c.sourceChannels;
    const WAVEFORMATEX format = DecodedSoundtrackFormat(source, {AudioEncoder::kOgg, 3, c.highRate, c.stereo});
    EXPECT_EQ(format.samplesPerSec, c.rate) << c.sourceRate << " " << c.sourceChannels;
    EXPECT_EQ(format.channels, c.channels) << c.sourceRate << " " << c.sourceChannels;
    EXPECT_EQ(format.bitsPerSample, 16);
  }
  EXPECT_EQ(*CompanionExtension(AudioEncoder::kMp3), std::string(".mp3"));
  EXPECT_EQ(*CompanionExtension(AudioEncoder::kOgg), std::string(".ogg"));
  EXPECT_FALSE(CompanionExtension(static_cast<AudioEncoder>(2)));
}

}  // namespace
}  // namespace reel
