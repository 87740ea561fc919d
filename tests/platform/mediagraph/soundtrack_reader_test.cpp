// Soundtracks decoded whole: format records, lengths, channel order, conversion on request, the
// absence of sound, and a track longer than any fixed buffer.
#include "platform/mediagraph/soundtrack_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "clip_maker.h"
#include "tests/support/external_tools.h"

namespace reel {
namespace {

int16_t SampleAt(const DecodedSoundtrack& track, std::size_t frame, std::size_t channel) {
  const std::size_t at = frame * track.format.blockAlign + channel * 2;
  return static_cast<int16_t>(track.data[at] | (track.data[at + 1] << 8));
}

// The loudest sample of `channel` over `frames` sample frames from `first`.
int Peak(const DecodedSoundtrack& track, std::size_t channel, std::size_t first, std::size_t frames) {
  int peak = 0;
  for (std::size_t frame = first; frame < first + frames; ++frame) peak = std::max(peak, std::abs(SampleAt(track, frame, channel)));
  return peak;
}

std::size_t Frames(const DecodedSoundtrack& track) { return track.data.size() / track.format.blockAlign; }

class SoundtrackReaderTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  }
  // A clip with 1.5 s of 1 kHz tone on the left (or only) channel and silence on the right.
  std::string Make(const std::string& name, const std::string& layout, const std::string& options) {
    const std::string path = folder_.File(name);
    const std::string channels = layout == "mono" ? "0.5*sin(2*PI*1000*t)" : "0.5*sin(2*PI*1000*t)|0";
    const bool ok = test::RunFfmpegTool(test::IndexedPictures(32, 32, "25") + " -f lavfi -i \"aevalsrc=" + channels +
                                        ":s=48000:c=" + layout + ":d=1.5\" -frames:v 50 -c:v mpeg4 " + options + " \"" +
                                        path + "\"");
    EXPECT_TRUE(ok) << "ffmpeg could not make " << name;
    return path;
  }
  test::ScratchFolder folder_{"soundtrack"};
};

struct Expected {
  uint16_t channels;
  uint32_t rate;
};

void ExpectTone(const DecodedSoundtrack& track, Expected expected, double seconds) {
  EXPECT_EQ(track.format.formatTag, 1);
  EXPECT_EQ(track.format.channels, expected.channels);
  EXPECT_EQ(track.format.samplesPerSec, expected.rate);
  EXPECT_EQ(track.format.bitsPerSample, 16);
  EXPECT_EQ(track.format.blockAlign, expected.channels * 2);
  EXPECT_EQ(track.format.avgBytesPerSec, expected.rate * expected.channels * 2);
  EXPECT_EQ(track.data.size() % track.format.blockAlign, 0u);
  // Codecs pad their last frame; the decoders trim what the container says to trim.
  EXPECT_NEAR(static_cast<double>(Frames(track)), seconds * expected.rate, 0.03 * expected.rate);
  const std::size_t middle = Frames(track) / 2;
  EXPECT_GT(Peak(track, 0, middle, expected.rate / 100), 12000);
}

TEST_F(SoundtrackReaderTest, MonoAndStereoAt48000HzKeepTheirFormatAndLength) {
  const std::string mp4 = Make("mono.mp4", "mono", "-c:a aac -b:a 128k");
  auto mono = ReadSoundtrack(mp4);
  ASSERT_TRUE(mono) << mono.error().message;
  ASSERT_TRUE(mono->has_value());
  ExpectTone(**mono, {1, 48000}, 1.5);
  auto probed = ProbeSoundtrack(mp4);
  ASSERT_TRUE(probed && probed->has_value());
  EXPECT_EQ((*probed)->channels, 1);
  EXPECT_EQ((*probed)->samplesPerSec, 48000u);

  for (const auto& [name, options] : {std::pair{"stereo.webm", "-c:v libvpx -c:a libvorbis"},
                                      std::pair{"stereo.mpg", "-c:v mpeg1video -c:a mp2 -b:a 192k -f mpeg"},
                                      std::pair{"stereo.mkv", "-c:a libmp3lame -b:a 128k"}}) {
    SCOPED_TRACE(name);
    auto stereo = ReadSoundtrack(Make(name, "stereo", options));
    ASSERT_TRUE(stereo) << stereo.error().message;
    ASSERT_TRUE(stereo->has_value());
    ExpectTone(**stereo, {2, 48000}, 1.5);
    // Left stays left: the tone is there, the right channel is silent.
    EXPECT_LT(Peak(**stereo, 1, Frames(**stereo) / 2, 480), 300);
  }
}

TEST_F(SoundtrackReaderTest, GivesTheRequestedRateAndChannelsStraightFromTheDecoder) {
  const std::string mono = Make("mono.ogv", "mono", "-c:v libtheora -c:a libvorbis");
  auto stereo = ReadSoundtrack(mono, PcmRequest{22050, 2, {}});
  ASSERT_TRUE(stereo) << stereo.error().message;
  ASSERT_TRUE(stereo->has_value());
  ExpectTone(**stereo, {2, 22050}, 1.5);
  for (std::size_t frame = 0; frame < Frames(**stereo); frame += 97) {
    ASSERT_EQ(SampleAt(**stereo, frame, 0), SampleAt(**stereo, frame, 1));
  }

  // More than two channels are mixed down to stereo unless a count is asked for.
  const std::string surround = folder_.File("surround.mkv");
  ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i \"aevalsrc=0.5*sin(2*PI*1000*t)|0|0|0|0|0:s=44100:c=5.1:d=1\" -c:a ac3 \"" +
                                  surround + "\""));
  auto mixed = ReadSoundtrack(surround);
  ASSERT_TRUE(mixed) << mixed.error().message;
  ASSERT_TRUE(mixed->has_value());
  EXPECT_EQ((*mixed)->format.channels, 2);
  EXPECT_EQ((*mixed)->format.samplesPerSec, 44100u);
  auto one = ReadSoundtrack(surround, PcmRequest{0, 1, {}});
  ASSERT_TRUE(one && one->has_value());
  EXPECT_EQ((*one)->format.channels, 1);
  EXPECT_EQ(ReadSoundtrack(surround, PcmRequest{0, 6, {}}).kind(), ErrorKind::kUsage);
}

TEST_F(SoundtrackReaderTest, SaysWhenThereIsNoSoundAndRefusesWhatIsNotMedia) {
  const std::string silent = test::MakeIndexedClip(folder_, {"silent.mp4", 32, 32, "25", 5, "-c:v mpeg4"});
  ASSERT_FALSE(silent.empty());
  auto none = ReadSoundtrack(silent);
  ASSERT_TRUE(none) << none.error().message;
  EXPECT_FALSE(none->has_value());
  auto probed = ProbeSoundtrack(silent);
  ASSERT_TRUE(probed);
  EXPECT_FALSE(probed->has_value());

  folder_.WriteFile("notes.ogg", "not a soundtrack at all\n");
  EXPECT_EQ(ReadSoundtrack(folder_.File("notes.ogg")).kind(), ErrorKind::kNotThisFormat);
  EXPECT_EQ(ReadSoundtrack(folder_.File("missing.ogg")).kind(), ErrorKind::kNotFound);
}

TEST_F(SoundtrackReaderTest, ReportsProgressAndStopsWhenAsked) {
  const std::string path = Make("progress.mp4", "mono", "-c:a aac");
  std::vector<double> shares;
  auto read = ReadSoundtrack(path, {}, [&](double share) {
    shares.push_back(share);
    return true;
  });
  ASSERT_TRUE(read && read->has_value());
  ASSERT_FALSE(shares.empty());
  EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
  EXPECT_EQ(shares.back(), 1.0);
  EXPECT_EQ(ReadSoundtrack(path, {}, [](double) { return false; }).kind(), ErrorKind::kStopped);
}

// A track placed against a start time: led with silence, cut at the front, or (for a start said
// to be hours away) left where it is; read whole and in pieces alike. The clip's sound, a steady
// level, starts 0.5 s after its picture and lasts 1.5 s.
TEST_F(SoundtrackReaderTest, PlacesTheTrackAtTheStartItIsAskedFor) {
  const std::string path = folder_.File("late.mkv");
  ASSERT_TRUE(test::RunFfmpegTool(test::IndexedPictures(32, 32, "25") + " -itsoffset 0.5 -f lavfi -i "
                                  "\"aevalsrc=0.5:s=8000:d=1.5\" -frames:v 50 -c:v mpeg4 -c:a pcm_s16le \"" + path + "\""));
  constexpr int64_t kSecond = kTimelineUnitsPerSecond;
  struct Placement {
    std::optional<int64_t> startAt;
    std::size_t silent;  // sample frames of silence ahead of the sound
    std::size_t length;
  };
  for (const Placement& p : {Placement{std::nullopt, 0, 12000}, Placement{0, 4000, 16000},
                             Placement{kSecond * 7 / 10, 0, 10400}, Placement{-2 * 3600 * kSecond, 0, 12000}}) {
    SCOPED_TRACE(p.startAt.value_or(-1));
    const PcmRequest request{0, 0, p.startAt};
    auto track = ReadSoundtrack(path, request);
    ASSERT_TRUE(track && track->has_value());
    EXPECT_EQ(Frames(**track), p.length);
    EXPECT_EQ(Peak(**track, 0, 0, p.silent), 0);
    EXPECT_GT(std::abs(SampleAt(**track, p.silent, 0)), 12000);

    auto pieces = SoundtrackPieces::Open(path, request);
    ASSERT_TRUE(pieces && pieces->has_value());
    std::vector<uint8_t> joined;
    for (Result<bool> more = true; *more;) {
      more = (*pieces)->Next(joined);
      ASSERT_TRUE(more);
    }
    EXPECT_EQ(joined, (*track)->data);
  }
}

// An opening for the sound that leaves the pictures out of its stream-information pass reads the
// very track, format and samples of one that reads the whole file: over containers and sound codecs
// beside H.264 pictures (whose pass decodes the most), a sound that starts later than the picture,
// placed against that picture, and a file with two sound tracks (read as any file).
TEST_F(SoundtrackReaderTest, SoundOnlyStreamInformationReadsTheSameTrack) {
  const struct {
    std::string name;
    std::string options;
  } cases[] = {
      {"aac.mp4", "-map 0:v -map 1:a -c:a aac"},
      {"surround.mp4", "-map 0:v -map 1:a -c:a aac -ac 6"},
      {"mp3.mkv", "-map 0:v -map 1:a -c:a libmp3lame"},
      {"vorbis.mkv", "-map 0:v -map 1:a -c:a libvorbis"},
      {"mp3.avi", "-map 0:v -map 1:a -c:a libmp3lame"},
      {"two.mkv", "-map 0:v -map 1:a -map 1:a -c:a aac"},
  };
  SoundtrackLimits whole;
  whole.soundInfoOnly = false;
  for (const auto& clip : cases) {
    SCOPED_TRACE(clip.name);
    const std::string path = folder_.File(clip.name);
    ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i testsrc2=size=64x48:rate=25:duration=1.6 -itsoffset 0.3 -f lavfi -i "
                                    "sine=f=440:d=1.2:r=44100 -c:v libx264 -bf 3 " +
                                    clip.options + " \"" + path + "\""));
    const auto probed = ProbeSoundtrack(path);
    const auto probedWhole = ProbeSoundtrack(path, whole);
    ASSERT_TRUE(probed && probedWhole && probed->has_value() && probedWhole->has_value());
    EXPECT_EQ((*probed)->samplesPerSec, (*probedWhole)->samplesPerSec);
    EXPECT_EQ((*probed)->channels, (*probedWhole)->channels);
    const PcmRequest request{22050, 2, 0};
    const auto track = ReadSoundtrack(path, request);
    const auto trackWhole = ReadSoundtrack(path, request, {}, whole);
    ASSERT_TRUE(track && trackWhole && track->has_value() && trackWhole->has_value());
    EXPECT_GT((*track)->data.size(), 22050u * 4);
    EXPECT_TRUE((*track)->data == (*trackWhole)->data);

    // One opening that both tells the track's format and reads it: the probe's format, the same bytes.
    PcmFormat told;
    auto pieces = SoundtrackPieces::Open(path, [&](const PcmFormat& byDefault) {
      told = byDefault;
      return request;
    });
    ASSERT_TRUE(pieces && pieces->has_value());
    EXPECT_EQ(told.samplesPerSec, (*probed)->samplesPerSec);
    EXPECT_EQ(told.channels, (*probed)->channels);
    std::vector<uint8_t> joined;
    for (Result<bool> more = true; *more;) {
      more = (*pieces)->Next(joined);
      ASSERT_TRUE(more);
    }
    EXPECT_TRUE(joined == (*track)->data);
  }
}

// Six minutes of 48 kHz stereo is more PCM than a 64 MiB buffer holds; the track's last second,
// a tone after silence, must be there.
TEST_F(SoundtrackReaderTest, ReadsALongTrackToItsEnd) {
  const std::string path = folder_.File("long.flac");
  ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i \"aevalsrc=if(gt(t\\,359)\\,0.5*sin(2*PI*1000*t)\\,0):s=48000:c=stereo:d=360\""
                                  " -c:a flac -compression_level 0 \"" + path + "\""));
  auto track = ReadSoundtrack(path);
  ASSERT_TRUE(track) << track.error().message;
  ASSERT_TRUE(track->has_value());
  EXPECT_EQ((*track)->data.size(), std::size_t{360} * 48000 * 4);
  EXPECT_GT((*track)->data.size(), std::size_t{64} << 20);
  EXPECT_GT(Peak(**track, 0, Frames(**track) - 24000, 24000), 12000);
  EXPECT_EQ(Peak(**track, 0, 0, 48000 * 300), 0);
}

}  // namespace
}  // namespace reel
