// The soundtrack in pieces against the whole-block path (read whole, convert whole, encode whole):
// the same bytes wherever the pieces are cut, for every source codec, rate and channel count and
// both encoders, on generated clips and the shared media's AVIs; and what is held stays small
// however long the track.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <string>

#include "audio_test_support.h"
#include "converter/audio/mp3_encoder.h"
#include "converter/audio/ogg_encoder.h"
#include "converter/audio/sound_format_conversion.h"
#include "converter/audio/sound_pieces.h"
#include "platform/acm/acm_stream.h"
#include "tests/support/scoped_registry.h"
#include "tests/support/shared_media.h"

namespace reel {
namespace {

// Cuts that fall everywhere: inside samples, frames, codec blocks and the parser's steps.
constexpr std::array<std::size_t, 6> kCuts = {1, 7, 4093, 262147, 1048583, 100001};

// A block handed over in pieces of the sizes above, in turn.
class CutPieces : public SoundPieces {
 public:
  explicit CutPieces(const std::vector<uint8_t>& block) : block_(block) {}

  Result<bool> Next(std::vector<uint8_t>& out) override {
    const std::size_t length = std::min(kCuts[turn_++ % kCuts.size()], block_.size() - offset_);
    out.insert(out.end(), block_.begin() + static_cast<std::ptrdiff_t>(offset_),
               block_.begin() + static_cast<std::ptrdiff_t>(offset_ + length));
    offset_ += length;
    return offset_ < block_.size();
  }

 private:
  const std::vector<uint8_t>& block_;
  std::size_t offset_ = 0;
  std::size_t turn_ = 0;
};

struct Companion {
  AudioOutcome outcome = AudioOutcome::kEncoded;
  std::vector<uint8_t> bytes;
};

struct EncoderCase {
  bool ogg;
  int32_t bitRateIndex;
  bool highRate;
  bool stereo;
};

constexpr std::array<EncoderCase, 4> kEncoders = {EncoderCase{false, 3, false, true}, EncoderCase{false, 5, true, false},
                                                  EncoderCase{true, 3, false, true}, EncoderCase{true, 6, true, false}};

std::string Describe(const EncoderCase& encoder) {
  return std::string(encoder.ogg ? "Ogg" : "MP3") + (encoder.highRate ? " 44100 Hz" : " 22050 Hz") +
         (encoder.stereo ? " stereo" : " mono");
}

// The companion as the whole-block path makes it.
Companion WholeCompanion(const AudioFormat& format, const std::vector<uint8_t>& data, const EncoderCase& encoder) {
  const FirstStageResult first = ConvertSoundtrackToPcm(format, data);
  const PcmSoundtrack& pcm = first.soundtrack;
  const EncodedAudio encoded =
      encoder.ogg ? EncodeOgg(pcm.data, pcm.format, {AudioEncoder::kOgg, encoder.bitRateIndex, encoder.highRate, encoder.stereo})
                  : EncodeMp3(pcm.data, pcm.format, {AudioEncoder::kMp3, encoder.bitRateIndex, encoder.highRate, encoder.stereo});
  return {encoded.outcome, encoded.bytes};
}

// The same companion made in pieces; `largest` receives the largest piece the encoder handed over.
Companion PieceCompanion(const AudioFormat& format, const std::vector<uint8_t>& data, const EncoderCase& encoder,
                         std::size_t* largest = nullptr) {
  const bool decode = format.wave.formatTag != kWaveFormatPcm;
  WAVEFORMATEX pcmFormat = format.wave;
  if (decode) {
    pcmFormat = {};
    pcmFormat.formatTag = kWaveFormatPcm;
    AcmFormatSuggest(format, pcmFormat, kAcmFormatSuggestTag);
  }
  const SoundPiecesOpener open = [&]() -> Result<std::unique_ptr<SoundPieces>> {
    std::unique_ptr<SoundPieces> raw = std::make_unique<CutPieces>(data);
    if (!decode) return raw;
    return ConvertPieces(AcmVariant::kDecoding, format, pcmFormat, std::move(raw));
  };
  Companion companion;
  const EncodedOutput output = [&](std::span<const uint8_t> bytes) -> Status {
    companion.bytes.insert(companion.bytes.end(), bytes.begin(), bytes.end());
    if (largest != nullptr) *largest = std::max(*largest, bytes.size());
    return {};
  };
  const Result<AudioOutcome> outcome =
      encoder.ogg ? EncodeOggPieces(open, pcmFormat, {AudioEncoder::kOgg, encoder.bitRateIndex, encoder.highRate, encoder.stereo}, output)
                  : EncodeMp3Pieces(open, pcmFormat, {AudioEncoder::kMp3, encoder.bitRateIndex, encoder.highRate, encoder.stereo}, output);
  EXPECT_TRUE(outcome) << outcome.error().message;
  if (outcome) companion.outcome = *outcome;
  return companion;
}

void ExpectSameCompanions(const AudioFormat& format, const std::vector<uint8_t>& data) {
  for (const EncoderCase& encoder : kEncoders) {
    const Companion whole = WholeCompanion(format, data, encoder);
    const Companion pieces = PieceCompanion(format, data, encoder);
    EXPECT_EQ(pieces.outcome, whole.outcome) << Describe(encoder);
    EXPECT_GT(whole.bytes.size(), 0u) << Describe(encoder);
    EXPECT_TRUE(pieces.bytes == whole.bytes) << Describe(encoder) << ": " << pieces.bytes.size() << " bytes against "
                                             << whole.bytes.size();
  }
}

struct ClipCase {
  const char* name;
  uint32_t rate;
  uint16_t channels;
  double seconds;
  const char* ffmpegCodec;  // empty: the PCM as generated
  bool eightBit = false;
};

class PiecesMatchWhole : public testing::TestWithParam<ClipCase> {
 protected:
  test::ScopedRegistry registry_{REEL_GOGO_PATH};
};

TEST_P(PiecesMatchWhole, ConversionAndBothEncodersGiveTheSameBytes) {
  const ClipCase& clip = GetParam();
  AudioFormat format;
  std::vector<uint8_t> data;
  if (std::string(clip.ffmpegCodec).empty()) {
    format = PcmWaveFormat(clip.rate, clip.channels, clip.eightBit ? 8 : 16);
    data = clip.eightBit ? test::Tone8(clip.rate, clip.channels, clip.seconds)
                         : test::Tone16(clip.rate, clip.channels, clip.seconds);
    data.push_back(0x55);  // a part of a frame at the end
  } else {
    const auto coded = test::CodeWithFfmpeg(test::Tone16(clip.rate, clip.channels, clip.seconds, 700.0), clip.rate,
                                            clip.channels, clip.ffmpegCodec);
    if (!coded) GTEST_SKIP() << "the ffmpeg tool could not make a " << clip.name << " clip";
    format = coded->format;
    data = coded->data;
  }
  // The conversion alone, to each target, against the whole-buffer conversion.
  WAVEFORMATEX pcm = format.wave;
  if (format.wave.formatTag != kWaveFormatPcm) {
    pcm = {};
    pcm.formatTag = kWaveFormatPcm;
    ASSERT_EQ(AcmFormatSuggest(format, pcm, kAcmFormatSuggestTag), kAcmOk);
    const auto whole = AcmConvertBuffer(AcmVariant::kDecoding, format, pcm, data);
    ASSERT_TRUE(whole);
    auto pieces = ConvertPieces(AcmVariant::kDecoding, format, pcm, std::make_unique<CutPieces>(data));
    ASSERT_TRUE(pieces);
    std::vector<uint8_t> joined;
    for (bool more = true; more;) {
      const Result<bool> next = pieces->Next(joined);
      ASSERT_TRUE(next);
      more = *next;
    }
    EXPECT_TRUE(joined == *whole) << joined.size() << " bytes against " << whole->size();
  }
  ExpectSameCompanions(format, data);
}

INSTANTIATE_TEST_SUITE_P(
    Clips, PiecesMatchWhole,
    testing::Values(ClipCase{"Pcm44100Stereo", 44100, 2, 7.0, ""}, ClipCase{"Pcm22050Mono", 22050, 1, 3.0, ""},
                    ClipCase{"Pcm48000Stereo", 48000, 2, 4.0, ""}, ClipCase{"Pcm8Bit11025Mono", 11025, 1, 3.0, "", true},
                    ClipCase{"Pcm32000Mono", 32000, 1, 3.0, ""},
                    ClipCase{"MsAdpcm22050Stereo", 22050, 2, 4.0, "-c:a adpcm_ms"},
                    ClipCase{"ImaAdpcm44100Mono", 44100, 1, 4.0, "-c:a adpcm_ima_wav"},
                    ClipCase{"Mulaw8000Mono", 8000, 1, 3.0, "-c:a pcm_mulaw"},
                    // Longer than the parser's step, so its steps fall inside the pieces.
                    ClipCase{"Mp3Over1MiB", 44100, 2, 30.0, "-c:a libmp3lame -b:a 320k"},
                    ClipCase{"Mp2Over1MiB", 32000, 2, 25.0, "-c:a mp2 -b:a 384k"}),
    [](const auto& param) { return std::string(param.param.name); });

struct MediaCase {
  const char* file;
};

class SharedMediaPieces : public testing::TestWithParam<MediaCase> {
 protected:
  test::ScopedRegistry registry_{REEL_GOGO_PATH};
};

TEST_P(SharedMediaPieces, GiveTheWholeBlockCompanionByteForByte) {
  const std::filesystem::path path = test::SharedMediaPath(GetParam().file);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "shared media file missing: " << path;
  const auto clip = test::ReadAviSoundtrack(path);
  ASSERT_TRUE(clip);
  ExpectSameCompanions(clip->format, clip->data);
}

INSTANTIATE_TEST_SUITE_P(SharedMedia, SharedMediaPieces,
                         testing::Values(MediaCase{"avi_cinepak_imaadpcm_320x240_15fps.avi"},
                                         MediaCase{"avi_dib_rgb24_160x120_10fps_msadpcm.avi"},
                                         MediaCase{"avi_fmp4_mp2_480x360_25fps.avi"},
                                         MediaCase{"avi_mjpeg_pcm16_352x240_2997.avi"},
                                         MediaCase{"avi_mjpeg_pcmu8_160x120_15fps.avi"},
                                         MediaCase{"avi_xvid_mp3_720x480_2997.avi"}));

// A long PCM track made a slice at a time, never whole.
class GeneratedTrack : public SoundPieces {
 public:
  GeneratedTrack(uint32_t rate, double seconds) : slice_(test::Tone16(rate, 2, 1.0)), slices_(static_cast<int>(seconds)) {}

  Result<bool> Next(std::vector<uint8_t>& out) override {
    out.insert(out.end(), slice_.begin(), slice_.end());
    return ++made_ < slices_;
  }

 private:
  std::vector<uint8_t> slice_;
  int slices_;
  int made_ = 0;
};

TEST(SoundPiecesMemory, WhatIsHeldStaysSmallHoweverLongTheTrack) {
  // Ten minutes at 44100 Hz stereo (106 MB of PCM) brought to 22050 Hz: each piece handed on is
  // about what one second of source gives, never the track.
  auto converted = ConvertPieces(AcmVariant::kMp3Preparation, PcmWaveFormat(44100, 2, 16), CompanionTargetFormat(false, true),
                                 std::make_unique<GeneratedTrack>(44100, 600));
  ASSERT_TRUE(converted);
  std::size_t largest = 0;
  uint64_t total = 0;
  std::vector<uint8_t> piece;
  for (bool more = true; more;) {
    piece.clear();
    const Result<bool> next = converted->Next(piece);
    ASSERT_TRUE(next);
    more = *next;
    largest = std::max(largest, piece.size());
    total += piece.size();
  }
  EXPECT_NEAR(static_cast<double>(total), 600.0 * 88200, 88200.0);
  EXPECT_LE(largest, std::size_t{1} << 20);

  // The encoder hands its stream over in pieces of at most a megabyte.
  const test::ScopedRegistry registry(REEL_GOGO_PATH);
  const std::vector<uint8_t> minute = test::Tone16(22050, 2, 60.0);
  std::size_t largestOut = 0;
  const Companion companion = PieceCompanion(PcmWaveFormat(22050, 2, 16), minute, kEncoders[0], &largestOut);
  EXPECT_EQ(companion.outcome, AudioOutcome::kEncoded);
  EXPECT_GT(companion.bytes.size(), 400000u);
  EXPECT_LE(largestOut, std::size_t{1} << 20);
}

TEST(SoundPiecesMemory, TheEndOfATrackHeldWholeComesInSmallPieces) {
  // Shorter than the parser's step, the whole MP2 track is held until its end; its two megabytes
  // of PCM still come a little at a time, the whole-buffer conversion's bytes.
  const auto coded = test::CodeWithFfmpeg(test::Tone16(44100, 2, 13.0, 700.0), 44100, 2, "-c:a mp2 -b:a 384k");
  if (!coded) GTEST_SKIP() << "the ffmpeg tool could not make an MP2 clip";
  ASSERT_LT(coded->data.size(), std::size_t{1} << 20);
  WAVEFORMATEX pcm{};
  pcm.formatTag = kWaveFormatPcm;
  ASSERT_EQ(AcmFormatSuggest(coded->format, pcm, kAcmFormatSuggestTag), kAcmOk);
  const auto whole = AcmConvertBuffer(AcmVariant::kDecoding, coded->format, pcm, coded->data);
  ASSERT_TRUE(whole);
  auto pieces = ConvertPieces(AcmVariant::kDecoding, coded->format, pcm, MemoryPieces(coded->data, coded->data.size()));
  ASSERT_TRUE(pieces);
  std::vector<uint8_t> joined;
  std::size_t largest = 0;
  for (bool more = true; more;) {
    const std::size_t before = joined.size();
    const Result<bool> next = pieces->Next(joined);
    ASSERT_TRUE(next);
    more = *next;
    largest = std::max(largest, joined.size() - before);
  }
  EXPECT_GT(whole->size(), std::size_t{2} << 20);
  EXPECT_TRUE(joined == *whole) << joined.size() << " bytes against " << whole->size();
  EXPECT_LE(largest, std::size_t{1} << 17);
}

TEST(CountedSound, ReplaysTheTrackAsAFreshReadWouldUnderAndOverItsBudget) {
  // 3.5 MB: several cuts, and kept in several blocks.
  const std::vector<uint8_t> block = test::Tone16(22050, 2, 40.0);
  struct Case {
    std::size_t budget;
    bool kept;
  };
  const std::array<Case, 4> cases = {Case{kKeptSoundBudget, true}, Case{block.size(), true},
                                     Case{block.size() - 1, false}, Case{1000, false}};
  for (const Case& test : cases) {
    int opens = 0;
    const SoundPiecesOpener open = [&]() -> Result<std::unique_ptr<SoundPieces>> {
      ++opens;
      return std::unique_ptr<SoundPieces>(std::make_unique<CutPieces>(block));
    };
    CountedSound track(open, test.budget);
    const Result<uint64_t> size = track.Count();
    ASSERT_TRUE(size) << test.budget;
    EXPECT_EQ(*size, block.size()) << test.budget;
    EXPECT_EQ(track.Kept(), test.kept) << test.budget;
    Result<std::unique_ptr<SoundPieces>> replay = track.Replay();
    ASSERT_TRUE(replay) << test.budget;
    std::vector<uint8_t> joined;
    for (bool more = true; more;) {
      const Result<bool> next = (*replay)->Next(joined);
      ASSERT_TRUE(next) << test.budget;
      more = *next;
    }
    EXPECT_TRUE(joined == block) << test.budget << ": " << joined.size() << " bytes";
    EXPECT_EQ(opens, test.kept ? 1 : 2) << test.budget;
  }
}

TEST(SoundPiecesErrors, AFailingSourceOrOutputEndsTheEncodingWithItsError) {
  const test::ScopedRegistry registry(REEL_GOGO_PATH);
  const std::vector<uint8_t> pcm = test::Tone16(22050, 2, 3.0);
  // A source that fails half-way, as a stopped job's does.
  class Failing : public SoundPieces {
   public:
    explicit Failing(const std::vector<uint8_t>& block) : block_(block) {}
    Result<bool> Next(std::vector<uint8_t>& out) override {
      if (++calls_ > 3) return MakeError(ErrorKind::kStopped, "track", "stopped");
      return block_.Next(out);
    }

   private:
    CutPieces block_;
    int calls_ = 0;
  };
  const SoundPiecesOpener failing = [&]() -> Result<std::unique_ptr<SoundPieces>> {
    return std::unique_ptr<SoundPieces>(std::make_unique<Failing>(pcm));
  };
  const EncodedOutput ignore = [](std::span<const uint8_t>) -> Status { return {}; };
  for (const EncoderCase& encoder : kEncoders) {
    const Result<AudioOutcome> outcome =
        encoder.ogg ? EncodeOggPieces(failing, PcmWaveFormat(22050, 2, 16), {AudioEncoder::kOgg, 3, encoder.highRate, encoder.stereo}, ignore)
                    : EncodeMp3Pieces(failing, PcmWaveFormat(22050, 2, 16), {AudioEncoder::kMp3, 3, encoder.highRate, encoder.stereo}, ignore);
    ASSERT_FALSE(outcome) << Describe(encoder);
    EXPECT_EQ(outcome.kind(), ErrorKind::kStopped) << Describe(encoder);
  }
  // A stop asked for once the MP3 encoder's counting pass has read the whole track: the encoding
  // from the kept bytes asks the source and stops too.
  class StoppedAtEnd : public StoppableSource {
   public:
    StoppedAtEnd(const std::vector<uint8_t>& block, bool& stop)
        : StoppableSource([&stop] { return stop; }, "track"), block_(block), stop_(stop) {}
    Result<bool> Next(std::vector<uint8_t>& out) override {
      if (Status going = Interruption(); !going) return going.error();
      const Result<bool> more = block_.Next(out);
      if (more && !*more) stop_ = true;
      return more;
    }

   private:
    CutPieces block_;
    bool& stop_;
  };
  for (const EncoderCase& encoder : kEncoders) {
    if (encoder.ogg) continue;  // the Ogg encoder reads the track once
    bool stop = false;
    const SoundPiecesOpener stoppedLate = [&]() -> Result<std::unique_ptr<SoundPieces>> {
      return std::unique_ptr<SoundPieces>(std::make_unique<StoppedAtEnd>(pcm, stop));
    };
    const Result<AudioOutcome> outcome =
        EncodeMp3Pieces(stoppedLate, PcmWaveFormat(22050, 2, 16), {AudioEncoder::kMp3, 3, encoder.highRate, encoder.stereo}, ignore);
    ASSERT_FALSE(outcome) << Describe(encoder);
    EXPECT_EQ(outcome.kind(), ErrorKind::kStopped) << Describe(encoder);
  }
  // An output that cannot take the bytes.
  const SoundPiecesOpener whole = [&]() -> Result<std::unique_ptr<SoundPieces>> {
    return std::unique_ptr<SoundPieces>(std::make_unique<CutPieces>(pcm));
  };
  const EncodedOutput full = [](std::span<const uint8_t>) -> Status {
    return MakeError(ErrorKind::kCannotWrite, "out.mp3", "disk full");
  };
  for (const EncoderCase& encoder : kEncoders) {
    const Result<AudioOutcome> outcome =
        encoder.ogg ? EncodeOggPieces(whole, PcmWaveFormat(22050, 2, 16), {AudioEncoder::kOgg, 3, encoder.highRate, encoder.stereo}, full)
                    : EncodeMp3Pieces(whole, PcmWaveFormat(22050, 2, 16), {AudioEncoder::kMp3, 3, encoder.highRate, encoder.stereo}, full);
    ASSERT_FALSE(outcome) << Describe(encoder);
    EXPECT_EQ(outcome.kind(), ErrorKind::kCannotWrite) << Describe(encoder);
  }
}

}  // namespace
}  // namespace reel
