// The companion streams as the player reads them: an Ogg Vorbis stream plays from granule position
// 0 whatever its first page says; seeks in MP3 and Ogg land on whole frames and sound there as they
// do when played through; an Ogg stream loops sample for sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "player/audio/mp3_plugin.h"
#include "player/audio/mp3_stream.h"
#include "player/audio/ogg_stream.h"
#include "tests/player/audio/audio_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

std::vector<int16_t> ReadAll(SoundStream& stream) {
  std::vector<int16_t> all;
  std::vector<int16_t> buffer(4096);
  while (!stream.Finished()) {
    const std::size_t got = stream.ReadPcm(buffer, false);
    all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
  }
  return all;
}

// The sample frames where a loud burst begins, on the first channel.
std::vector<std::size_t> BurstOnsets(const std::vector<int16_t>& samples, uint16_t channels) {
  std::vector<std::size_t> onsets;
  std::size_t lastLoud = 0;
  for (std::size_t frame = 0; frame * channels < samples.size(); ++frame) {
    if (std::abs(samples[frame * channels]) <= 8000) continue;
    if (onsets.empty() || frame - lastLoud > 1000) onsets.push_back(frame);
    lastLoud = frame;
  }
  return onsets;
}

// Two seconds at 22050 Hz with bursts of a 1 kHz tone at 0.3, 0.6 and 1.5 s.
constexpr char kBursts[] =
    "aevalsrc='0.8*sin(2*PI*1000*t)*(between(t,0.3,0.35)+between(t,0.6,0.65)+between(t,1.5,1.55))'"
    ":s=22050:d=2";

// A stream that says its first samples lie before position 0 has them left out, without losing
// any sample after them; one that starts after 0 plays from its first sample.
TEST(OggStreamTest, PlaysFromGranulePositionZero) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  struct Case {
    const char* name;
    const char* input;   // ffmpeg options before the source
    const char* output;  // and after it
    double shiftSeconds;  // where the source's first sample lies in the sound
  };
  const Case cases[] = {{"plain", "", "", 0.0},
                        {"starts at 0.5 s", "", "-output_ts_offset 0.5", 0.0},
                        {"0.1 s before 0", "-itsoffset -0.1", "", -0.1},
                        {"1.2 s before 0", "-itsoffset -1.2", "", -1.2}};
  test::ScratchFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path path = folder.Path() / "bursts.ogg";
    ASSERT_TRUE(test::RunFfmpegTool(std::string(c.input) + " -f lavfi -i \"" + kBursts + "\" -c:a libvorbis " +
                                    c.output + " " + test::ShellQuoted(path)));
    const std::vector<uint8_t> bytes = test::ReadAllBytes(path);
    for (const bool wholeFile : {false, true}) {
      OggStream stream;
      ASSERT_TRUE(wholeFile ? stream.OpenMemory(bytes) : stream.OpenFile(path.string()));
      ASSERT_EQ(stream.Format().channels, 1);
      const std::vector<int16_t> samples = ReadAll(stream);
      std::vector<std::size_t> expected;
      for (const double at : {0.3, 0.6, 1.5}) {
        if (at + c.shiftSeconds >= 0) expected.push_back(static_cast<std::size_t>(std::lround((at + c.shiftSeconds) * 22050)));
      }
      const std::vector<std::size_t> onsets = BurstOnsets(samples, 1);
      ASSERT_EQ(onsets.size(), expected.size());
      for (std::size_t i = 0; i < onsets.size(); ++i) EXPECT_NEAR(double(onsets[i]), double(expected[i]), 3.0) << i;
      EXPECT_EQ(samples.size(), static_cast<std::size_t>(std::lround((2.0 + std::min(c.shiftSeconds, 0.0)) * 22050)));
    }
  }
}

// Every pass of a looping Ogg stream is the first, sample for sample, the lead-in included.
TEST(OggStreamTest, LoopingPlaysTheSameSamplesEachPass) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  for (const char* input : {"", "-itsoffset -0.1"}) {
    SCOPED_TRACE(input);
    const std::filesystem::path path = folder.Path() / "loop.ogg";
    ASSERT_TRUE(test::RunFfmpegTool(std::string(input) + " -f lavfi -i \"" + kBursts +
                                    "\" -ac 2 -c:a libvorbis " + test::ShellQuoted(path)));
    OggStream once;
    ASSERT_TRUE(once.OpenFile(path.string()));
    const std::vector<int16_t> pass = ReadAll(once);
    ASSERT_FALSE(pass.empty());
    OggStream looping;
    ASSERT_TRUE(looping.OpenFile(path.string()));
    std::vector<int16_t> passes(pass.size() * 3);
    EXPECT_EQ(looping.ReadPcm(passes, true), passes.size());
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_TRUE(std::equal(pass.begin(), pass.end(), passes.begin() + static_cast<std::ptrdiff_t>(i * pass.size())))
          << "pass " << i;
    }
  }
}

// A seek lands at or before the place asked for, at most a frame before it, and from there the
// stream gives what playing it through gives there; past the end it finishes.
TEST(SoundStreamSeekTest, LandsOnAWholeFrameAndSoundsAsPlayedThrough) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  Mp3Plugin::SetModuleName(test::PluginPath());
  struct Case {
    const char* name;
    uint32_t rate;
    uint16_t channels;
    const char* arguments;
    uint32_t longestFrame;  // sample frames
    int32_t tolerance;      // largest difference from the played-through samples
  };
  const Case cases[] = {
      {"a.mp3", 22050, 1, "-c:a libmp3lame -b:a 32k", 576, 2},
      {"b.mp3", 44100, 2, "-c:a libmp3lame -b:a 128k", 1152, 2},
      {"c.mp3", 22050, 2, "-c:a libmp3lame -b:a 64k -write_xing 0", 576, 2},
      {"d.ogg", 22050, 2, "-c:a libvorbis", 2048, 0},
      {"e.ogg", 44100, 1, "-c:a libvorbis -q:a 2", 2048, 0},
      {"f.ogg", 22050, 1, "-c:a libvorbis", 2048, 0},
  };
  test::ScratchFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path path = folder.Path() / c.name;
    const std::string shift = std::string(c.name) == "f.ogg" ? "-itsoffset -0.3 " : "";
    ASSERT_TRUE(test::RunFfmpegTool(shift + "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*(300+200*t)*t)|0.4*sin(2*PI*500*t):s=" +
                                    std::to_string(c.rate) + ":d=6\" -ac " + std::to_string(c.channels) + " " +
                                    c.arguments + " " + test::ShellQuoted(path)));
    std::unique_ptr<SoundStream> whole = MakeSoundStream(test::ReadAllBytes(path));
    ASSERT_TRUE(whole->OpenFile(path.string()));
    const std::vector<int16_t> through = ReadAll(*whole);
    const std::size_t frames = through.size() / c.channels;
    std::unique_ptr<SoundStream> stream = MakeSoundStream(test::ReadAllBytes(path));
    ASSERT_TRUE(stream->OpenFile(path.string()));
    for (const uint64_t target : {uint64_t{c.rate} * 3, uint64_t{c.rate} / 10, uint64_t{c.rate} * 5 + 7, uint64_t{0},
                                  uint64_t{c.rate} * 2, uint64_t{frames}, uint64_t{frames} + 5000}) {
      SCOPED_TRACE(target);
      const uint64_t landed = stream->Seek(target);
      if (target >= frames) {
        EXPECT_EQ(landed, target);
        EXPECT_TRUE(stream->Finished());
        std::vector<int16_t> none(100);
        EXPECT_EQ(stream->ReadPcm(none, false), 0u);
        continue;
      }
      EXPECT_LE(landed, target);
      EXPECT_LT(target - landed, c.longestFrame);
      std::vector<int16_t> played(std::min<std::size_t>(c.rate / 2, frames - landed) * c.channels);
      ASSERT_EQ(stream->ReadPcm(played, false), played.size());
      int32_t worst = 0;
      for (std::size_t i = 0; i < played.size(); ++i) {
        worst = std::max(worst, std::abs(played[i] - through[landed * c.channels + i]));
      }
      EXPECT_LE(worst, c.tolerance);
    }
  }
}

}  // namespace
}  // namespace reel
