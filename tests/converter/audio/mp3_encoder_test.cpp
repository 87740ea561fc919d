// The MP3 front end: bit rates, the encoder state's callbacks, loading gogo.dll, and whole
// encodings decoded back.
#include "converter/audio/mp3_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>

#include "audio_test_support.h"
#include "converter/audio/sound_format_conversion.h"
#include "tests/support/mp3_decoding.h"
#include "tests/support/scoped_registry.h"

namespace reel {
namespace {

class Mp3Test : public testing::Test {
 protected:
  test::ScopedRegistry registry_{REEL_GOGO_PATH};
};

TEST(Mp3BitRates, TableAndMonoHalving) {
  EXPECT_EQ(Mp3BitRate(0, false), 8u);
  EXPECT_EQ(Mp3BitRate(0, true), 16u);
  EXPECT_EQ(Mp3BitRate(3, true), 64u);
  EXPECT_EQ(Mp3BitRate(3, false), 32u);
  EXPECT_EQ(Mp3BitRate(12, true), 320u);
  EXPECT_EQ(Mp3BitRate(12, false), 160u);
  EXPECT_EQ(Mp3BitRate(-1, true), 0u);
  EXPECT_EQ(Mp3BitRate(13, true), 0u);
}

TEST(Mp3EncoderState, OutputBlockStartsAtTwoMebibytesOrHalfTheInput) {
  EXPECT_EQ(Mp3OutputBlockSize(0), 0x200000u);
  EXPECT_EQ(Mp3OutputBlockSize(0x1FFFFF), 0x200000u);
  EXPECT_EQ(Mp3OutputBlockSize(0x200000), 0x100000u);
  EXPECT_EQ(Mp3OutputBlockSize(0x1000000), 0x800000u);

  Mp3EncoderState& state = Mp3EncoderState::Instance();
  const std::vector<uint8_t> small(1000, 1);
  state.Begin(small);
  EXPECT_GE(state.OutputCapacity(), 0x200000u);
  state.DiscardOutput();
}

TEST(Mp3EncoderState, ReadsInRequestsAndPadsTheLastWithSilence) {
  Mp3EncoderState& state = Mp3EncoderState::Instance();
  std::vector<uint8_t> input(10);
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i + 1);
  state.Begin(input);
  std::vector<uint8_t> request(4, 0xEE);
  EXPECT_EQ(Mp3ReadInput(request.data(), 4), 0);
  EXPECT_EQ(request, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(Mp3ReadInput(request.data(), 4), 0);
  EXPECT_EQ(Mp3ReadInput(request.data(), 4), 0);
  EXPECT_EQ(request, (std::vector<uint8_t>{9, 10, 0, 0}));
  EXPECT_EQ(Mp3ReadInput(request.data(), 4), 1);
  EXPECT_EQ(Mp3ReadInput(request.data(), 4), 1);

  state.Begin({});
  EXPECT_EQ(Mp3ReadInput(request.data(), 4), 1);
  state.DiscardOutput();
}

TEST(Mp3EncoderState, OutputGrowsPastHalfTheInputAndKeepsOrder) {
  Mp3EncoderState& state = Mp3EncoderState::Instance();
  const std::vector<uint8_t> input(0x400000, 0);  // a 2 MiB block
  state.Begin(input);
  const std::size_t capacity = state.OutputCapacity();
  std::vector<uint8_t> chunk(0x10000);
  std::size_t written = 0;
  for (uint8_t mark = 0; written <= capacity + chunk.size(); ++mark) {
    std::fill(chunk.begin(), chunk.end(), mark);
    EXPECT_EQ(Mp3WriteOutput(chunk.data(), static_cast<uint32_t>(chunk.size())), 0);
    written += chunk.size();
  }
  EXPECT_EQ(Mp3WriteOutput(nullptr, 100), 0);
  const std::vector<uint8_t> output = state.TakeOutput();
  ASSERT_EQ(output.size(), written);
  for (std::size_t i = 0; i < output.size(); i += chunk.size()) {
    ASSERT_EQ(output[i], static_cast<uint8_t>(i / chunk.size()));
    ASSERT_EQ(output[i + chunk.size() - 1], static_cast<uint8_t>(i / chunk.size()));
  }
}

TEST_F(Mp3Test, LoadsThroughTheRegistryWhenNotOnTheSearchPath) {
  Mp3EncoderLib encoder(64);
  EXPECT_TRUE(encoder.Loaded());
  EXPECT_EQ(encoder.Load(), kMp3LoadOk);
  encoder.Release();
  EXPECT_FALSE(encoder.Loaded());
  EXPECT_EQ(encoder.Load(), kMp3LoadOk);
}

TEST(Mp3Loading, ReportsTwelveWhenTheModuleIsNowhere) {
  {
    const test::ScopedRegistry noEntry;
    Mp3EncoderLib encoder(64);
    EXPECT_FALSE(encoder.Loaded());
    EXPECT_EQ(encoder.Load(), kMp3LoadFailed);
    EXPECT_FALSE(encoder.Encode(test::Tone16(22050, 2, 0.1), PcmWaveFormat(22050, 2, 16)));
    const EncodedAudio result = EncodeMp3(test::Tone16(22050, 2, 0.1), PcmWaveFormat(22050, 2, 16), {AudioEncoder::kMp3, 3, false, true});
    EXPECT_EQ(result.outcome, AudioOutcome::kEncoderMissing);
    EXPECT_TRUE(result.bytes.empty());
  }
  {
    const test::ScopedRegistry wrongPath("/nonexistent/gogo.dll");
    EXPECT_EQ(Mp3EncoderLib(64).Load(), kMp3LoadFailed);
  }
  {
    // A shared object without the entry points is refused, not called.
    const test::ScopedRegistry notTheEncoder("libm.so.6");
    EXPECT_EQ(Mp3EncoderLib(64).Load(), kMp3LoadFailed);
  }
  {
    const test::ScopedRegistry tooLong(std::string(1100, 'x'));
    EXPECT_EQ(Mp3EncoderLib(64).Load(), kMp3LoadFailed);
  }
}

// Every bit-rate index, both rates and both channel settings: the stream decodes at the asked
// rate and channel count, lasts as long as the input to within one MPEG frame, and every audio
// frame is at the asked bit rate or the nearest one the sample rate allows. (One test over all
// combinations: each is short, and one process keeps the suite quick under the sanitizers.)
void CheckDialogSetting(int index, bool highRate, bool stereo) {
  const WAVEFORMATEX target = CompanionTargetFormat(highRate, stereo);
  const std::vector<uint8_t> pcm = test::Tone16(target.samplesPerSec, target.channels, 0.4);
  const EncodedAudio mp3 = EncodeMp3(pcm, target, {AudioEncoder::kMp3, index, highRate, stereo});
  ASSERT_EQ(mp3.outcome, AudioOutcome::kEncoded);
  ASSERT_FALSE(mp3.bytes.empty());
  const auto decoded = test::DecodeMp3Bytes(mp3.bytes, test::Mp3Decoding::kGapless);
  ASSERT_TRUE(decoded && decoded->complete);
  EXPECT_EQ(decoded->rate, target.samplesPerSec);
  EXPECT_EQ(decoded->channels, target.channels);
  const double frameSamples = highRate ? 1152 : 576;
  const double inputFrames = static_cast<double>(pcm.size() / target.blockAlign);
  EXPECT_NEAR(static_cast<double>(decoded->Frames()), inputFrames, frameSamples);

  // The first frame holds the stream information. At 44100 Hz and 32 or 40 kbit/s a frame may
  // step up to carry what the encoder would otherwise fail on; most stay at the rate.
  const uint32_t asked = Mp3BitRate(index, stereo);
  const uint32_t expected = highRate ? std::max(asked, 32u) : std::min(asked, 160u);
  const std::vector<uint32_t> rates = test::Mp3FrameBitRates(mp3.bytes);
  ASSERT_GT(rates.size(), 2u);
  if (highRate && expected <= 40) {
    const auto atRate = std::count(rates.begin() + 1, rates.end(), expected);
    EXPECT_GE(2 * atRate, static_cast<std::ptrdiff_t>(rates.size() - 1));
    for (std::size_t i = 1; i < rates.size(); ++i) ASSERT_GE(rates[i], expected) << "frame " << i;
    return;
  }
  for (std::size_t i = 1; i < rates.size(); ++i) ASSERT_EQ(rates[i], expected) << "frame " << i;
}

// Noise bursts between silences: at 44100 Hz and the lowest rates the encoder used to find a frame
// it could not carry at the bit rate and stopped the whole process.
std::vector<uint8_t> NoiseBursts(uint32_t rate, uint16_t channels, uint32_t burstFrames) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> level(-30000, 30000);
  std::vector<uint8_t> pcm;
  for (uint32_t i = 0; i < 2 * rate; ++i) {
    const int sample = (i / burstFrames) % 2 != 0 ? level(random) : 0;
    for (uint16_t c = 0; c < channels; ++c) {
      pcm.push_back(static_cast<uint8_t>(sample & 0xFF));
      pcm.push_back(static_cast<uint8_t>((sample >> 8) & 0xFF));
    }
  }
  return pcm;
}

TEST_F(Mp3Test, TheLowestRatesAt44100HzEncodeSoundTheEncoderUsedToStopOn) {
  // index 1 mono asks 16 kbit/s (32 at 44100 Hz), index 4 mono 40, index 1 stereo 32.
  for (const auto& [index, stereo] : {std::pair{1, false}, std::pair{4, false}, std::pair{1, true}}) {
    for (const uint32_t burst : {300u, 2000u}) {
      SCOPED_TRACE(testing::Message() << "index " << index << (stereo ? " stereo" : " mono") << ", bursts of " << burst);
      const WAVEFORMATEX target = CompanionTargetFormat(true, stereo);
      const std::vector<uint8_t> pcm = NoiseBursts(44100, target.channels, burst);
      const EncodedAudio mp3 = EncodeMp3(pcm, target, {AudioEncoder::kMp3, index, true, stereo});
      ASSERT_EQ(mp3.outcome, AudioOutcome::kEncoded);
      const auto decoded = test::DecodeMp3Bytes(mp3.bytes, test::Mp3Decoding::kGapless);
      ASSERT_TRUE(decoded.has_value());
      EXPECT_NEAR(static_cast<double>(decoded->Frames()), static_cast<double>(pcm.size() / target.blockAlign), 1152.0);
      // Frames step up where this sound needs it, never below the rate.
      const std::vector<uint32_t> rates = test::Mp3FrameBitRates(mp3.bytes);
      const uint32_t expected = std::max(Mp3BitRate(index, stereo), 32u);
      for (std::size_t i = 1; i < rates.size(); ++i) ASSERT_GE(rates[i], expected) << "frame " << i;
    }
  }
}

TEST_F(Mp3Test, EveryDialogSettingGivesAPlayableStreamOfTheRightShape) {
  for (int index = 0; index < 13; ++index) {
    for (const bool highRate : {false, true}) {
      for (const bool stereo : {false, true}) {
        SCOPED_TRACE(testing::Message() << "index " << index << (highRate ? " 44100 Hz" : " 22050 Hz")
                                        << (stereo ? " stereo" : " mono"));
        CheckDialogSetting(index, highRate, stereo);
      }
    }
  }
}

TEST_F(Mp3Test, ConvertsOtherFormatsFirstAndKeepsTheTone) {
  const std::vector<uint8_t> pcm = test::Tone8(11025, 1, 1.0, 500.0);
  const EncodedAudio mp3 = EncodeMp3(pcm, PcmWaveFormat(11025, 1, 8), {AudioEncoder::kMp3, 7, true, true});
  ASSERT_EQ(mp3.outcome, AudioOutcome::kEncoded);
  const auto decoded = test::DecodeMp3Bytes(mp3.bytes, test::Mp3Decoding::kGapless);
  ASSERT_TRUE(decoded && decoded->complete);
  EXPECT_EQ(decoded->rate, 44100u);
  EXPECT_EQ(decoded->channels, 2);
  EXPECT_NEAR(static_cast<double>(decoded->Frames()), 44100.0, 1152.0);
  EXPECT_NEAR(test::CrossingsPerSecond(test::Channel(decoded->samples, 2, 0), 44100), 500.0, 10.0);
}

TEST_F(Mp3Test, EmptyAndUnconvertibleInputsStillGiveAValidStream) {
  const EncodedAudio empty = EncodeMp3({}, CompanionTargetFormat(false, true), {AudioEncoder::kMp3, 3, false, true});
  EXPECT_EQ(empty.outcome, AudioOutcome::kEncoded);
  const auto emptyDecoded = test::DecodeMp3Bytes(empty.bytes, test::Mp3Decoding::kGapless);
  EXPECT_LE(emptyDecoded ? emptyDecoded->Frames() : 0u, 576u);

  WAVEFORMATEX unknown = PcmWaveFormat(8000, 1, 16);
  unknown.formatTag = 0x4242;
  const EncodedAudio unconvertible = EncodeMp3(std::vector<uint8_t>(1000, 7), unknown, {AudioEncoder::kMp3, 3, false, true});
  EXPECT_EQ(unconvertible.outcome, AudioOutcome::kUnconvertible);
  const auto unconvertibleDecoded = test::DecodeMp3Bytes(unconvertible.bytes, test::Mp3Decoding::kGapless);
  EXPECT_LE(unconvertibleDecoded ? unconvertibleDecoded->Frames() : 0u, 576u);

  EXPECT_EQ(EncodeMp3({}, CompanionTargetFormat(false, true), {AudioEncoder::kMp3, 13, false, true}).outcome, AudioOutcome::kBadSetting);
}

TEST_F(Mp3Test, RefusedConfigurationGivesNoStream) {
  Mp3EncoderLib encoder(64);
  ASSERT_TRUE(encoder.Loaded());
  // 7000 Hz is no MPEG sample rate, so the module refuses to encode at it.
  EXPECT_FALSE(encoder.Encode(test::Tone16(7000, 1, 0.1), PcmWaveFormat(7000, 1, 16)));
  EXPECT_FALSE(encoder.Encode(test::Tone16(22050, 1, 0.1), PcmWaveFormat(22050, 3, 16)));
  EXPECT_TRUE(encoder.Encode(test::Tone16(22050, 1, 0.1), PcmWaveFormat(22050, 1, 16)));
}

// What the module asked of the test's callbacks.
struct ModuleLog {
  std::vector<uint32_t> requests;
  int32_t endAfter = 0;  // requests answered with data before the input ends
  int callsAfterEnd = 0;
  std::vector<uint8_t> output;
  bool ended = false;
};

// The module itself, driven through its entry points with callbacks that record what it asks.
class GogoModule : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadableModule::Load(REEL_GOGO_PATH);
    ASSERT_TRUE(module_);
    initialize_ = module_->Entry<MpgeInitializeWork>("MPGE_initializeWork");
    set_ = module_->Entry<MpgeSetConfigure>("MPGE_setConfigure");
    get_ = module_->Entry<MpgeGetConfigure>("MPGE_getConfigure");
    detect_ = module_->Entry<MpgeDetectConfigure>("MPGE_detectConfigure");
    process_ = module_->Entry<MpgeProcessFrame>("MPGE_processFrame");
    close_ = module_->Entry<MpgeCloseCoder>("MPGE_closeCoder");
    end_ = module_->Entry<MpgeEndCoder>("MPGE_endCoder");
    ASSERT_TRUE(initialize_ && set_ && get_ && detect_ && process_ && close_ && end_);
    log_ = {};
  }

  static inline ModuleLog log_;

  static int32_t Input(void* buffer, uint32_t length) {
    if (log_.ended) ++log_.callsAfterEnd;
    log_.requests.push_back(length);
    if (static_cast<int32_t>(log_.requests.size()) > log_.endAfter) {
      log_.ended = true;
      return 1;
    }
    std::memset(buffer, 0, length);
    return 0;
  }
  static int32_t Output(void* buffer, uint32_t length) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    log_.output.insert(log_.output.end(), bytes, bytes + length);
    return 0;
  }

  void Configure(uint32_t rate, uint32_t channels, uint32_t bitRate) {
    description_ = {&Input, 0, 16, rate, channels};
    initialize_();
    ASSERT_EQ(set_(kMpgeItemInput, kMpgeByFunction, reinterpret_cast<uintptr_t>(&description_)), kMpgeOk);
    ASSERT_EQ(set_(kMpgeItemOutput, kMpgeByFunction, reinterpret_cast<uintptr_t>(&Output)), kMpgeOk);
    ASSERT_EQ(set_(kMpgeItemMode, channels == 1 ? 0 : 1, 0), kMpgeOk);
    ASSERT_EQ(set_(kMpgeItemBitRate, bitRate, 0), kMpgeOk);
    ASSERT_EQ(set_(kMpgeItemOutputRate, rate, 0), kMpgeOk);
  }

  std::optional<LoadableModule> module_;
  MpgeInputDescription description_{};
  MpgeInitializeWork initialize_ = nullptr;
  MpgeSetConfigure set_ = nullptr;
  MpgeGetConfigure get_ = nullptr;
  MpgeDetectConfigure detect_ = nullptr;
  MpgeProcessFrame process_ = nullptr;
  MpgeCloseCoder close_ = nullptr;
  MpgeEndCoder end_ = nullptr;
};

TEST_F(GogoModule, PullsFixedRequestsUntilTheEndAndDeliversByEndCoder) {
  Configure(22050, 2, 64);
  log_.endAfter = 10;
  ASSERT_EQ(detect_(), kMpgeOk);
  int frames = 0;
  while (process_() == kMpgeOk) ++frames;
  EXPECT_EQ(frames, 10);
  ASSERT_EQ(log_.requests.size(), 11u);
  for (const uint32_t request : log_.requests) EXPECT_EQ(request, 576u * 4);  // one MPEG-2 frame
  EXPECT_EQ(process_(), kMpgeEndOfInput);  // asks nothing more once told the input ended
  EXPECT_EQ(log_.callsAfterEnd, 0);
  close_();
  end_();
  const auto decoded = test::DecodeMp3Bytes(log_.output, test::Mp3Decoding::kGapless);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->complete);
  EXPECT_EQ(decoded->Frames(), 5760u);
}

TEST_F(GogoModule, UsesTheNearestBitRateTheSampleRateAllows) {
  Configure(22050, 2, 320);
  uintptr_t value = 0;
  ASSERT_EQ(get_(kMpgeItemBitRate, &value), kMpgeOk);
  EXPECT_EQ(value, 160u);
  Configure(44100, 1, 8);
  ASSERT_EQ(get_(kMpgeItemBitRate, &value), kMpgeOk);
  EXPECT_EQ(value, 32u);
  Configure(44100, 2, 70);
  ASSERT_EQ(get_(kMpgeItemBitRate, &value), kMpgeOk);
  EXPECT_EQ(value, 64u);
  end_();
}

TEST_F(GogoModule, RefusesIncompleteOrUnusableConfigurations) {
  initialize_();
  EXPECT_NE(detect_(), kMpgeOk);  // neither input nor output
  EXPECT_NE(process_(), kMpgeOk);
  EXPECT_EQ(set_(kMpgeItemInput, 1, 0), kMpgeBadValue);
  EXPECT_EQ(set_(kMpgeItemOutput, kMpgeByFunction, 0), kMpgeBadValue);
  EXPECT_EQ(set_(kMpgeItemMode, 5, 0), kMpgeBadValue);
  EXPECT_EQ(set_(kMpgeItemOutputRate, 7000, 0), kMpgeBadValue);
  EXPECT_EQ(set_(77, 0, 0), kMpgeUnknownItem);
  Configure(22050, 2, 64);
  description_.bitsPerSample = 24;
  ASSERT_EQ(set_(kMpgeItemInput, kMpgeByFunction, reinterpret_cast<uintptr_t>(&description_)), kMpgeOk);
  EXPECT_NE(detect_(), kMpgeOk);
  EXPECT_EQ(end_(), kMpgeOk);
}

TEST_F(GogoModule, WithoutTheInformationFrameBytesFlowAsTheyAreMade) {
  Configure(44100, 1, 128);
  ASSERT_EQ(set_(kMpgeItemInfoFrame, 0, 0), kMpgeOk);
  log_.endAfter = 1000;
  ASSERT_EQ(detect_(), kMpgeOk);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(process_(), kMpgeOk);
  EXPECT_FALSE(log_.output.empty());
  end_();  // closes the coder on the way
  const auto decoded = test::DecodeMp3Bytes(log_.output, test::Mp3Decoding::kGapless);
  EXPECT_TRUE(decoded && decoded->complete);
}

}  // namespace
}  // namespace reel
