// Picture and sound in step, end to end: a clip with a white flash and a 1 kHz beep that both
// start at 2.000 s is made with the ffmpeg tool, converted with reelforge-cli and played by reelview
// headless, its sound going to a file through SDL's disk audio driver. The trace reelview writes
// (REELVIEW_TRACE) gives the clock at which the flash frame was presented and where the movie's
// sound starts in the output; the beep's onset in the output, counted from there, must agree with
// that clock within 10 ms. The companion is the converter's MP3, its Ogg Vorbis file (of a source
// read through the media framework), or an Ogg Vorbis file the ffmpeg tool made in its place.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "player/audio/mp3_plugin.h"
#include "player/audio/mp3_stream.h"
#include "player/audio/sound_stream.h"
#include "tests/support/file_bytes.h"
#include "tests/support/external_tools.h"
#include "tests/support/qrx_movie_checks.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

constexpr double kOutputRate = 22050.0;  // the player's sound output
constexpr double kClipSeconds = 3.0;
constexpr double kFlashSeconds = 2.0;

enum class Companion { kMp3, kConverterOgg, kFfmpegOgg };

struct Combination {
  uint32_t rate;
  uint16_t channels;
  uint32_t framesPerSecond;
  Companion companion = Companion::kMp3;
};

std::string Describe(const Combination& c) {
  const char* companion = c.companion == Companion::kMp3 ? "" : c.companion == Companion::kConverterOgg ? "Ogg" : "FfmpegOgg";
  return std::to_string(c.rate) + (c.channels == 1 ? "Mono" : "Stereo") + std::to_string(c.framesPerSecond) + "fps" +
         companion;
}

std::string TestName(const ::testing::TestParamInfo<Combination>& info) { return Describe(info.param); }

struct Trace {
  std::optional<uint32_t> soundStart;        // output sample frame of the sound's first sample
  std::optional<uint32_t> clockAtFrame(uint32_t frame) const {
    for (const auto& [k, clock] : frames) {
      if (k == frame) return clock;
    }
    return std::nullopt;
  }
  std::vector<std::pair<uint32_t, uint32_t>> frames;  // frame index, clock in ms
};

// The first pass of the movie only: reelview runs a little over one pass.
Trace ReadTrace(const std::filesystem::path& path) {
  Trace trace;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "sound" && !trace.soundStart) {
      uint32_t start = 0;
      if (fields >> start) trace.soundStart = start;
    } else if (kind == "frame") {
      uint32_t frame = 0;
      uint32_t clock = 0;
      if (!(fields >> frame >> clock)) continue;
      if (!trace.frames.empty() && frame == 0) break;  // the second pass begins
      trace.frames.emplace_back(frame, clock);
    }
  }
  return trace;
}

// Left samples of the 16-bit stereo output.
std::vector<int16_t> ReadLeftSamples(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> left;
  for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
    left.push_back(static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) |
                                        (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  }
  return left;
}

// The mean level of picture K (a binary PPM), 0..255.
std::optional<double> PictureLevel(const std::filesystem::path& movie, uint32_t frame,
                                   const std::filesystem::path& out) {
  const std::optional<test::RgbPicture> picture = test::DecodeMovieFrame(movie, frame, out);
  if (!picture) return std::nullopt;
  double sum = 0;
  for (const uint8_t byte : picture->rgb) sum += byte;
  return sum / static_cast<double>(picture->rgb.size());
}

class SyncEndToEndTest : public ::testing::TestWithParam<Combination> {};

TEST_P(SyncEndToEndTest, FlashAndBeepAgreeWithinTenMilliseconds) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  const Combination c = GetParam();
  test::ScratchFolder folder;
  // The converter's Ogg encoder takes sources read through the media framework only.
  const std::filesystem::path clip = folder.Path() / (c.companion == Companion::kConverterOgg ? "clip.mkv" : "clip.avi");
  const std::string seconds = std::to_string(kClipSeconds);
  ASSERT_TRUE(test::RunFfmpegTool(
      "-f lavfi -i color=c=black:s=320x240:r=" + std::to_string(c.framesPerSecond) + ":d=" + seconds +
      " -f lavfi -i \"aevalsrc=0.5*sin(2*PI*1000*t)*gte(t\\," + std::to_string(kFlashSeconds) +
      "):s=" + std::to_string(c.rate) + ":d=" + seconds + "\"" +
      " -vf \"drawbox=c=white:t=fill:enable='gte(t," + std::to_string(kFlashSeconds) + ")'\"" +
      " -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac " + std::to_string(c.channels) + " " +
      test::ShellQuoted(clip)));
  const test::CommandResult converted = test::RunCommand(
      test::ShellQuoted(std::string_view(REELFORGE_CLI_PATH)) + " --frame-rate max --rate " +
      (c.rate == 44100 ? "44.1" : "22.05") + (c.channels == 1 ? " --mono " : " --stereo ") +
      // Time sync keeps the pictures on screen at 0, 1/rate, 2/rate...: frame K is the picture at K/rate.
      (c.companion == Companion::kConverterOgg ? "--encoder ogg --playback-mode time " : "") +
      "--output-dir " + test::ShellQuoted(folder.Path()) + " " + test::ShellQuoted(clip));
  ASSERT_EQ(converted.status, 0) << converted.output;
  const std::filesystem::path movie = folder.Path() / "clip.qrx";
  std::filesystem::path sound = folder.Path() / (c.companion == Companion::kConverterOgg ? "clip.ogg" : "clip.mp3");
  if (c.companion == Companion::kFfmpegOgg) {
    std::filesystem::remove(sound);
    sound = folder.Path() / "clip.ogg";
    ASSERT_TRUE(test::RunFfmpegTool("-i " + test::ShellQuoted(clip) + " -vn -c:a libvorbis -ar " + std::to_string(c.rate) +
                                    " -ac " + std::to_string(c.channels) + " " + test::ShellQuoted(sound)));
  }

  // The companion plays exactly the source's samples.
  Mp3Plugin::SetModuleName(LODESTAR_PATH);
  {
    std::unique_ptr<SoundStream> stream = MakeSoundStream(test::ReadAllBytes(sound));
    ASSERT_TRUE(stream->OpenFile(sound.string()));
    std::vector<int16_t> all(static_cast<std::size_t>(c.rate * c.channels * (kClipSeconds + 1)));
    EXPECT_EQ(stream->ReadPcm(all, false),
              static_cast<std::size_t>(c.rate * kClipSeconds) * c.channels);
    if (auto* mp3 = dynamic_cast<Mp3Stream*>(stream.get())) {
      EXPECT_TRUE(mp3->InfoFrame().has_value());
    }
  }

  // The flash is frame K = 2 s x rate: white, and the frame before it dark.
  const uint32_t flashFrame = static_cast<uint32_t>(kFlashSeconds * c.framesPerSecond);
  const auto flashLevel = PictureLevel(movie, flashFrame, folder.Path() / "flash.ppm");
  const auto beforeLevel = PictureLevel(movie, flashFrame - 1, folder.Path() / "before.ppm");
  ASSERT_TRUE(flashLevel && beforeLevel);
  EXPECT_GT(*flashLevel, 200.0);
  EXPECT_LT(*beforeLevel, 50.0);

  const std::filesystem::path output = folder.Path() / "sound.raw";
  const std::filesystem::path tracePath = folder.Path() / "trace.txt";
  const test::CommandResult played = test::RunCommand(
      "cd " + test::ShellQuoted(folder.Path()) + " && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk" +
      " SDL_DISKAUDIOFILE=" + test::ShellQuoted(output) + " REELVIEW_TRACE=" +
      test::ShellQuoted(tracePath) + " XDG_RUNTIME_DIR=" + test::ShellQuoted(folder.Path()) +
      " timeout -s TERM 3.6 " + test::ShellQuoted(std::string_view(REELVIEW_PATH)));
  const Trace trace = ReadTrace(tracePath);
  ASSERT_TRUE(trace.soundStart.has_value()) << played.output;
  const std::optional<uint32_t> flashClock = trace.clockAtFrame(flashFrame);
  ASSERT_TRUE(flashClock.has_value()) << "frame " << flashFrame << " was not presented";

  const std::vector<int16_t> left = ReadLeftSamples(output);
  std::size_t onset = *trace.soundStart;
  while (onset < left.size() && std::abs(left[onset]) < 4000) ++onset;
  ASSERT_LT(onset, left.size()) << "no beep in the sound output";
  const double beepMs = static_cast<double>(onset - *trace.soundStart) * 1000.0 / kOutputRate;
  const double offset = beepMs - *flashClock;
  std::cout << "[ offset ] " << Describe(c) << ": flash at clock " << *flashClock
            << " ms, beep at " << beepMs << " ms, sound minus picture " << offset << " ms\n";
  EXPECT_LE(std::abs(offset), 10.0);
}

// Every rate, channel count and frame rate together with an MP3 companion, sixteen combinations;
// every rate and channel count with each kind of Ogg companion, eight more.
std::vector<Combination> AllCombinations() {
  std::vector<Combination> all;
  for (const uint32_t rate : {22050u, 44100u}) {
    for (const uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
      for (const uint32_t fps : {10u, 12u, 15u, 30u}) all.push_back(Combination{rate, channels, fps});
      for (const Companion ogg : {Companion::kConverterOgg, Companion::kFfmpegOgg}) {
        all.push_back(Combination{rate, channels, 15, ogg});
      }
    }
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(Combinations, SyncEndToEndTest, ::testing::ValuesIn(AllCombinations()),
                         TestName);

}  // namespace
}  // namespace reel
