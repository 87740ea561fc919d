// The Ogg front end and the Ogg encoder library.
#include "converter/audio/ogg_encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "audio_test_support.h"
#include "converter/audio/sound_format_conversion.h"
#include "modules/oggenc/ogg_encode_memory.h"

namespace reel {
namespace {

TEST(OggQuality, DialogIndexRule) {
  EXPECT_EQ(OggQualityIndex(0), 0);
  EXPECT_EQ(OggQualityIndex(1), 0);
  EXPECT_EQ(OggQualityIndex(2), 0);
  EXPECT_EQ(OggQualityIndex(3), 1);
  EXPECT_EQ(OggQualityIndex(12), 10);
  EXPECT_FLOAT_EQ(kOggQualities[0], -0.1f);
  EXPECT_FLOAT_EQ(kOggQualities[1], 0.0f);
  EXPECT_FLOAT_EQ(kOggQualities[10], 0.9f);
  EXPECT_FLOAT_EQ(kOggQualities[11], 1.0f);
}

TEST(OggEncoding, TheThreeLowestBitRatesGiveTheSameStream) {
  const std::vector<uint8_t> pcm = test::Tone16(22050, 2, 0.3);
  const WAVEFORMATEX format = PcmWaveFormat(22050, 2, 16);
  const EncodedAudio first = EncodeOgg(pcm, format, {AudioEncoder::kOgg, 0, false, true});
  ASSERT_EQ(first.outcome, AudioOutcome::kEncoded);
  EXPECT_EQ(EncodeOgg(pcm, format, {AudioEncoder::kOgg, 1, false, true}).bytes, first.bytes);
  EXPECT_EQ(EncodeOgg(pcm, format, {AudioEncoder::kOgg, 2, false, true}).bytes, first.bytes);
  EXPECT_NE(EncodeOgg(pcm, format, {AudioEncoder::kOgg, 3, false, true}).bytes, first.bytes);
}

// Every quality (bit-rate index quality + 2) and every companion format: the stream decodes back at the right rate and
// channel count with the input's length. The source is 48000 Hz stereo, so every setting goes
// through the second stage.
void CheckQualityAndFormat(int quality, bool highRate, bool stereo, const std::vector<uint8_t>& pcm) {
  const EncodedAudio ogg = EncodeOgg(pcm, PcmWaveFormat(48000, 2, 16), {AudioEncoder::kOgg, quality + 2, highRate, stereo});
  ASSERT_EQ(ogg.outcome, AudioOutcome::kEncoded);
  const test::DecodedStream decoded = test::DecodeOgg(ogg.bytes);
  ASSERT_TRUE(decoded.ok);
  const WAVEFORMATEX target = CompanionTargetFormat(highRate, stereo);
  EXPECT_EQ(decoded.rate, static_cast<long>(target.samplesPerSec));
  EXPECT_EQ(decoded.channels, target.channels);
  EXPECT_NEAR(static_cast<double>(decoded.frames), target.samplesPerSec * 0.5, 4.0);
  if (stereo) {
    EXPECT_NEAR(test::CrossingsPerSecond(test::Channel(decoded.samples, 2, 0), target.samplesPerSec), 800.0, 30.0);
    EXPECT_NEAR(test::CrossingsPerSecond(test::Channel(decoded.samples, 2, 1), target.samplesPerSec), 400.0, 30.0);
  }
}

TEST(OggEncoding, EveryQualityAndFormatDecodesBackToTheInputsShapeAndLength) {
  const std::vector<uint8_t> pcm = test::Tone16(48000, 2, 0.5, 800.0);
  for (int quality = 0; quality < 12; ++quality) {
    for (const bool highRate : {false, true}) {
      for (const bool stereo : {false, true}) {
        SCOPED_TRACE(testing::Message() << "quality index " << quality << (highRate ? " 44100 Hz" : " 22050 Hz")
                                        << (stereo ? " stereo" : " mono"));
        CheckQualityAndFormat(quality, highRate, stereo, pcm);
      }
    }
  }
}

TEST(OggEncoding, RefusesBadSettingsAndUnconvertibleInput) {
  const std::vector<uint8_t> pcm = test::Tone16(22050, 1, 0.1);
  EXPECT_EQ(EncodeOgg(pcm, PcmWaveFormat(22050, 1, 16), {AudioEncoder::kOgg, 14, false, false}).outcome, AudioOutcome::kBadSetting);

  WAVEFORMATEX unknown = PcmWaveFormat(22050, 1, 16);
  unknown.formatTag = 0x4242;
  unknown.samplesPerSec = 8000;
  const EncodedAudio unconvertible = EncodeOgg(pcm, unknown, {AudioEncoder::kOgg, 5, false, false});
  EXPECT_EQ(unconvertible.outcome, AudioOutcome::kUnconvertible);
  const test::DecodedStream decoded = test::DecodeOgg(unconvertible.bytes);
  EXPECT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.frames, 0u);
}

TEST(OggLibrary, RefusesWhatItCannotEncodeWithANullAndZeroLength) {
  const std::vector<uint8_t> pcm = test::Tone16(22050, 2, 0.1);
  const WAVEFORMATEX good = PcmWaveFormat(22050, 2, 16);
  auto refused = [&](float quality, const WAVEFORMATEX* format, const void* data, int32_t length) {
    int32_t inOut = length;
    void* stream = GetOggEncodeProcessMemory(quality, format, data, &inOut);
    std::free(stream);
    return stream == nullptr && inOut == 0;
  };
  EXPECT_TRUE(refused(0.5f, nullptr, pcm.data(), 100));
  EXPECT_TRUE(refused(0.5f, &good, nullptr, 100));
  EXPECT_TRUE(refused(0.5f, &good, pcm.data(), -4));
  EXPECT_TRUE(refused(1.5f, &good, pcm.data(), 100));
  EXPECT_TRUE(refused(-0.2f, &good, pcm.data(), 100));
  const WAVEFORMATEX eightBit = PcmWaveFormat(22050, 2, 8);
  EXPECT_TRUE(refused(0.5f, &eightBit, pcm.data(), 100));
  const WAVEFORMATEX sixChannels = PcmWaveFormat(22050, 6, 16);
  EXPECT_TRUE(refused(0.5f, &sixChannels, pcm.data(), 96));
  EXPECT_EQ(GetOggEncodeProcessMemory(0.5f, &good, pcm.data(), nullptr), nullptr);

  // A ragged length encodes the whole frames; the caller releases the stream with free().
  int32_t length = static_cast<int32_t>(pcm.size()) - 3;
  void* stream = GetOggEncodeProcessMemory(0.5f, &good, pcm.data(), &length);
  ASSERT_NE(stream, nullptr);
  const auto* bytes = static_cast<const uint8_t*>(stream);
  const test::DecodedStream decoded = test::DecodeOgg(std::vector<uint8_t>(bytes, bytes + length));
  std::free(stream);
  EXPECT_EQ(decoded.frames, pcm.size() / 4 - 1);
}

}  // namespace
}  // namespace reel
