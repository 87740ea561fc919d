// Whole-buffer conversion: widths, channel counts, rates, compressed sources, and the variants.
#include "converter/audio/sound_format_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "audio_test_support.h"
#include "platform/acm/acm_stream.h"

namespace reel {
namespace {

using test::Channel;
using test::CrossingsPerSecond;
using test::Samples16;

std::vector<uint8_t> Convert(const WAVEFORMATEX& from, const WAVEFORMATEX& to, const std::vector<uint8_t>& data,
                             AcmVariant variant = AcmVariant::kMp3Preparation) {
  auto converted = AcmConvertBuffer(variant, from, to, data);
  EXPECT_TRUE(converted);
  return converted ? *converted : std::vector<uint8_t>{};
}

TEST(PcmConversion, VariantCapacitiesAndTheSecondStageRule) {
  EXPECT_EQ(AcmDestinationCapacity(AcmVariant::kDecoding, 1000), 1016u);
  EXPECT_EQ(AcmDestinationCapacity(AcmVariant::kMp3Preparation, 1000), 2000u);
  EXPECT_EQ(AcmDestinationCapacity(AcmVariant::kOggPreparation, 1000), 1000u);
  EXPECT_EQ(AcmDestinationCapacity(AcmVariant::kMp3Preparation, 0xC0000000u), 0xFFFFFFFFu);

  const WAVEFORMATEX target = CompanionTargetFormat(false, true);
  EXPECT_EQ(target.samplesPerSec, 22050u);
  EXPECT_EQ(target.channels, 2);
  EXPECT_EQ(target.blockAlign, 4);
  EXPECT_EQ(target.avgBytesPerSec, 88200u);
  EXPECT_EQ(target.extraSize, 16);
  EXPECT_EQ(CompanionTargetFormat(true, false).samplesPerSec, 44100u);
  EXPECT_EQ(CompanionTargetFormat(true, false).channels, 1);

  WAVEFORMATEX other = target;
  other.formatTag = kWaveFormatExtensible;  // the tag is not compared
  other.avgBytesPerSec = 1;
  EXPECT_FALSE(NeedsSecondStage(other, target));
  other.bitsPerSample = 8;
  EXPECT_TRUE(NeedsSecondStage(other, target));
  EXPECT_TRUE(NeedsSecondStage(PcmWaveFormat(44100, 2, 16), target));
  EXPECT_TRUE(NeedsSecondStage(PcmWaveFormat(22050, 1, 16), target));
}

TEST(PcmConversion, WidensEightBitSamplesExactly) {
  const std::vector<uint8_t> source = {0, 1, 127, 128, 129, 255};
  const auto wide = Samples16(Convert(PcmWaveFormat(22050, 1, 8), PcmWaveFormat(22050, 1, 16), source));
  EXPECT_EQ(wide, (std::vector<int16_t>{-32768, -32512, -256, 0, 256, 32512}));
}

TEST(PcmConversion, CopiesMonoToBothSidesAndAveragesStereo) {
  const std::vector<uint8_t> mono = test::Tone16(22050, 1, 0.1);
  const auto stereo = Samples16(Convert(PcmWaveFormat(22050, 1, 16), PcmWaveFormat(22050, 2, 16), mono));
  const auto original = Samples16(mono);
  ASSERT_EQ(stereo.size(), 2 * original.size());
  EXPECT_EQ(Channel(stereo, 2, 0), original);
  EXPECT_EQ(Channel(stereo, 2, 1), original);

  const std::vector<uint8_t> pair = test::Tone16(22050, 2, 0.1);
  const auto merged = Samples16(Convert(PcmWaveFormat(22050, 2, 16), PcmWaveFormat(22050, 1, 16), pair));
  const auto both = Samples16(pair);
  ASSERT_EQ(merged.size(), both.size() / 2);
  for (std::size_t i = 0; i < merged.size(); ++i) {
    ASSERT_NEAR(merged[i], (both[2 * i] + both[2 * i + 1]) / 2.0, 1.0) << i;
  }
}

struct RateCase {
  uint32_t from;
  uint32_t to;
};

class PcmResampling : public testing::TestWithParam<RateCase> {};

TEST_P(PcmResampling, KeepsDurationPitchAndLevel) {
  const auto [from, to] = GetParam();
  const std::vector<uint8_t> source = test::Tone16(from, 2, 1.0, 1000.0);
  const auto out = Samples16(Convert(PcmWaveFormat(from, 2, 16), PcmWaveFormat(to, 2, 16), source));
  EXPECT_NEAR(static_cast<double>(out.size() / 2), to, 4.0);
  const auto left = Channel(out, 2, 0);
  const auto right = Channel(out, 2, 1);
  EXPECT_NEAR(CrossingsPerSecond(left, to), 1000.0, 5.0);
  EXPECT_NEAR(CrossingsPerSecond(right, to), 500.0, 5.0);
  EXPECT_NEAR(test::Rms(left), test::Rms(Channel(Samples16(source), 2, 0)), 300.0);
}

INSTANTIATE_TEST_SUITE_P(Rates, PcmResampling,
                         testing::Values(RateCase{44100, 22050}, RateCase{48000, 22050}, RateCase{22050, 44100},
                                         RateCase{11025, 44100}));

TEST(PcmConversion, EightBitMonoBecomesTheCompanionFormat) {
  const std::vector<uint8_t> source = test::Tone8(11025, 1, 0.5, 300.0);
  const auto out = Samples16(Convert(PcmWaveFormat(11025, 1, 8), CompanionTargetFormat(true, true), source));
  EXPECT_NEAR(static_cast<double>(out.size() / 2), 22050.0, 4.0);
  EXPECT_EQ(Channel(out, 2, 0), Channel(out, 2, 1));
  EXPECT_NEAR(CrossingsPerSecond(Channel(out, 2, 0), 44100), 300.0, 5.0);
}

TEST(PcmConversion, RefusesWhatCannotBeConverted) {
  const std::vector<uint8_t> data(1000, 0x55);
  WAVEFORMATEX unknown = PcmWaveFormat(22050, 2, 16);
  unknown.formatTag = 0x1234;
  EXPECT_FALSE(AcmConvertBuffer(AcmVariant::kDecoding, unknown, PcmWaveFormat(22050, 2, 16), data));
  EXPECT_FALSE(AcmConvertBuffer(AcmVariant::kDecoding, PcmWaveFormat(0, 2, 16), PcmWaveFormat(22050, 2, 16), data));
  EXPECT_FALSE(AcmConvertBuffer(AcmVariant::kDecoding, PcmWaveFormat(22050, 0, 16), PcmWaveFormat(22050, 2, 16), data));
  EXPECT_FALSE(AcmConvertBuffer(AcmVariant::kDecoding, PcmWaveFormat(22050, 6, 16), PcmWaveFormat(22050, 2, 16), data));
  EXPECT_FALSE(AcmConvertBuffer(AcmVariant::kOggPreparation, PcmWaveFormat(22050, 2, 16), PcmWaveFormat(22050, 3, 16), data));
  EXPECT_FALSE(AcmConvertBuffer(AcmVariant::kOggPreparation, PcmWaveFormat(22050, 2, 16), PcmWaveFormat(22050, 2, 12), data));
  WAVEFORMATEX adpcmWithoutBlocks = PcmWaveFormat(22050, 1, 4);
  adpcmWithoutBlocks.formatTag = kWaveFormatImaAdpcm;
  adpcmWithoutBlocks.blockAlign = 0;
  EXPECT_FALSE(AcmConvertBuffer(AcmVariant::kDecoding, adpcmWithoutBlocks, PcmWaveFormat(22050, 1, 16), data));

  const FirstStageResult result = ConvertSoundtrackToPcm(unknown, data);
  EXPECT_FALSE(result.decoded);
  EXPECT_TRUE(result.soundtrack.data.empty());
  EXPECT_EQ(result.soundtrack.format.formatTag, kWaveFormatPcm);
}

TEST(PcmConversion, EmptyAndRaggedSourcesGiveWholeFrames) {
  EXPECT_TRUE(Convert(PcmWaveFormat(22050, 2, 16), PcmWaveFormat(44100, 1, 16), {}).empty());
  const std::vector<uint8_t> ragged(4 * 100 + 3, 0);  // a partial frame at the end is dropped
  EXPECT_EQ(Convert(PcmWaveFormat(22050, 2, 16), PcmWaveFormat(22050, 1, 16), ragged).size(), 200u);
}

TEST(PcmConversion, SuggestsSixteenBitPcmAtTheSourceShape) {
  WAVEFORMATEX adpcm = PcmWaveFormat(11025, 2, 4);
  adpcm.formatTag = kWaveFormatMsAdpcm;
  adpcm.blockAlign = 512;
  WAVEFORMATEX suggested;
  suggested.formatTag = kWaveFormatPcm;
  ASSERT_EQ(AcmFormatSuggest(adpcm, suggested, kAcmFormatSuggestTag), kAcmOk);
  EXPECT_EQ(suggested, PcmWaveFormat(11025, 2, 16));
  WAVEFORMATEX notPcm;
  notPcm.formatTag = kWaveFormatMpegLayer3;
  EXPECT_NE(AcmFormatSuggest(adpcm, notPcm, kAcmFormatSuggestTag), kAcmOk);
  adpcm.formatTag = 0x7777;
  EXPECT_NE(AcmFormatSuggest(adpcm, suggested, kAcmFormatSuggestTag), kAcmOk);
}

TEST(PcmConversion, PcmSoundtracksPassTheFirstStageUnchanged) {
  const std::vector<uint8_t> data = test::Tone8(8000, 1, 0.1);
  const FirstStageResult result = ConvertSoundtrackToPcm(PcmWaveFormat(8000, 1, 8), data);
  EXPECT_TRUE(result.decoded);
  EXPECT_EQ(result.soundtrack.format, PcmWaveFormat(8000, 1, 8));
  EXPECT_EQ(result.soundtrack.data, data);
}

struct CodecCase {
  const char* name;
  const char* arguments;
  uint16_t tag;
  double minimumSnr;  // dB against the original; 0 skips the comparison (coders with a delay)
};

class CompressedSoundtrack : public testing::TestWithParam<CodecCase> {};

// The signal-to-noise ratio of `decoded` against `original`, over their common length.
double SnrDecibels(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded) {
  double signal = 0;
  double noise = 0;
  for (std::size_t i = 0; i < std::min(original.size(), decoded.size()); ++i) {
    signal += static_cast<double>(original[i]) * original[i];
    const double error = static_cast<double>(original[i]) - decoded[i];
    noise += error * error;
  }
  return 10 * std::log10(signal / std::max(noise, 1.0));
}

TEST_P(CompressedSoundtrack, DecodesToPcmOfTheRightShape) {
  const CodecCase& codec = GetParam();
  const std::vector<uint8_t> pcm = test::Tone16(22050, 2, 1.0, 700.0);
  const auto clip = test::CodeWithFfmpeg(pcm, 22050, 2, codec.arguments);
  if (!clip) GTEST_SKIP() << "the ffmpeg tool could not make a " << codec.name << " clip";
  ASSERT_EQ(clip->format.wave.formatTag, codec.tag);

  const FirstStageResult result = ConvertSoundtrackToPcm(clip->format, clip->data);
  ASSERT_TRUE(result.decoded);
  EXPECT_EQ(result.soundtrack.format, PcmWaveFormat(22050, 2, 16));
  const auto decoded = Samples16(result.soundtrack.data);
  const double frames = static_cast<double>(decoded.size() / 2);
  EXPECT_GE(frames, 22050.0 - 1200);  // block coders may drop part of a last block
  EXPECT_LE(frames, 22050.0 + 2400);  // frame coders add their delay and padding
  // One second of tone, whatever silence a coder's delay adds around it.
  EXPECT_NEAR(static_cast<double>(test::Crossings(Channel(decoded, 2, 0))), 700.0, 15.0);
  EXPECT_NEAR(static_cast<double>(test::Crossings(Channel(decoded, 2, 1))), 350.0, 15.0);
  if (codec.minimumSnr > 0) {
    EXPECT_GT(SnrDecibels(Samples16(pcm), decoded), codec.minimumSnr);
  }

  // The same data straight to the MP3 encoder's format, mono at 44100 Hz.
  const auto direct = AcmConvertBuffer(AcmVariant::kMp3Preparation, clip->format, CompanionTargetFormat(true, false),
                                       clip->data);
  ASSERT_TRUE(direct);
  EXPECT_NEAR(static_cast<double>(direct->size() / 2), 2 * frames, 8.0);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, CompressedSoundtrack,
    testing::Values(CodecCase{"ImaAdpcm", "-c:a adpcm_ima_wav", kWaveFormatImaAdpcm, 15.0},
                    CodecCase{"MsAdpcm", "-c:a adpcm_ms", kWaveFormatMsAdpcm, 15.0},
                    CodecCase{"Alaw", "-c:a pcm_alaw", kWaveFormatAlaw, 25.0},
                    CodecCase{"Mulaw", "-c:a pcm_mulaw", kWaveFormatMulaw, 25.0},
                    CodecCase{"Mp3", "-c:a libmp3lame -b:a 128k", kWaveFormatMpegLayer3, 0.0},
                    CodecCase{"Mp2", "-c:a mp2 -b:a 128k", kWaveFormatMpeg, 0.0}),
    [](const testing::TestParamInfo<CodecCase>& param) { return param.param.name; });

TEST(PcmConversion, DamagedCompressedDataNeverCrashes) {
  std::vector<uint8_t> noise(20000);
  uint32_t seed = 12345;
  for (auto& byte : noise) {
    seed = seed * 1664525 + 1013904223;
    byte = static_cast<uint8_t>(seed >> 24);
  }
  for (const uint16_t tag : {kWaveFormatMpegLayer3, kWaveFormatMpeg, kWaveFormatImaAdpcm, kWaveFormatMsAdpcm,
                             kWaveFormatAc3}) {
    WAVEFORMATEX format = PcmWaveFormat(22050, 2, 4);
    format.formatTag = tag;
    format.blockAlign = 1024;
    format.avgBytesPerSec = 16000;
    const auto result = AcmConvertBuffer(AcmVariant::kDecoding, format, PcmWaveFormat(22050, 2, 16), noise);
    if (result) {
      EXPECT_EQ(result->size() % 4, 0u) << tag;
    }
  }
}

}  // namespace
}  // namespace reel
