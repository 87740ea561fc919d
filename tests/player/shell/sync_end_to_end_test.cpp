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
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
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

// What a headless reelview run of the movie in `folder` gives: the clock at which movie frame
// `flashFrame` was presented and the beep's onset in the sound output, both counted from the
// movie's start; nothing (with the reason added to the test's failures) when either is missing.
struct Played {
  double flashClock = 0;  // ms
  double beepMs = 0;
  double Offset() const { return beepMs - flashClock; }
};

std::optional<Played> PlayAndMeasure(const std::filesystem::path& folder, uint32_t flashFrame, double seconds) {
  const std::filesystem::path output = folder / "sound.raw";
  const std::filesystem::path tracePath = folder / "trace.txt";
  const test::CommandResult played = test::RunCommand(
      "cd " + test::ShellQuoted(folder) + " && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk" +
      " SDL_DISKAUDIOFILE=" + test::ShellQuoted(output) + " REELVIEW_TRACE=" +
      test::ShellQuoted(tracePath) + " XDG_RUNTIME_DIR=" + test::ShellQuoted(folder) +
      " timeout -s TERM " + std::to_string(seconds) + " " + test::ShellQuoted(std::string_view(REELVIEW_PATH)));
  const Trace trace = ReadTrace(tracePath);
  if (!trace.soundStart) {
    ADD_FAILURE() << "no sound in the trace: " << played.output;
    return std::nullopt;
  }
  const std::optional<uint32_t> flashClock = trace.clockAtFrame(flashFrame);
  if (!flashClock) {
    ADD_FAILURE() << "frame " << flashFrame << " was not presented";
    return std::nullopt;
  }
  const std::vector<int16_t> left = ReadLeftSamples(output);
  std::size_t onset = *trace.soundStart;
  while (onset < left.size() && std::abs(left[onset]) < 4000) ++onset;
  if (onset >= left.size()) {
    ADD_FAILURE() << "no beep in the sound output";
    return std::nullopt;
  }
  return Played{static_cast<double>(*flashClock), static_cast<double>(onset - *trace.soundStart) * 1000.0 / kOutputRate};
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

  const std::optional<Played> played = PlayAndMeasure(folder.Path(), flashFrame, 3.6);
  ASSERT_TRUE(played.has_value());
  std::cout << "[ offset ] " << Describe(c) << ": flash at clock " << played->flashClock
            << " ms, beep at " << played->beepMs << " ms, sound minus picture " << played->Offset() << " ms\n";
  EXPECT_LE(std::abs(played->Offset()), 10.0);
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

// Sound that starts later or earlier than the picture. The flash and the beep both come at
// 1.000 s of their own inputs, and the sound is moved against the picture: by the ffmpeg tool's
// -itsoffset for Matroska, MP4 (where the tool writes the move as an edit list) and MPEG-1 program
// streams; in an AVI file, which the tool writes without any move, by the stream headers' dwStart,
// patched afterwards (the sound's for a later start, the picture's for an earlier one). Whatever the
// container, the movie and its companion must play the beep as far from the flash as the ffmpeg
// tool presents the source, within 10 ms, in both playback modes.
enum class Container { kMkv, kMp4, kMpegPs, kAvi };

struct Shift {
  Container container;
  int milliseconds;  // the sound's start against the picture's
  bool timeSync = false;
};

constexpr double kShiftedFlashSeconds = 1.0;
constexpr double kShiftedClipSeconds = 2.5;

std::string ShiftName(const ::testing::TestParamInfo<Shift>& info) {
  const Shift& s = info.param;
  static const char* const kNames[] = {"Mkv", "Mp4", "MpegPs", "Avi"};
  return std::string(kNames[static_cast<int>(s.container)]) + (s.milliseconds < 0 ? "Earlier" : "Later") +
         std::to_string(std::abs(s.milliseconds)) + "ms" +
         (s.container == Container::kAvi ? "" : s.timeSync ? "TimeSync" : "FrameSync");
}

// The stream header ("strh") of the `index`-th stream, counted from 0, or none.
std::optional<std::size_t> StreamHeaderAt(const std::vector<uint8_t>& avi, int index) {
  const std::string_view bytes(reinterpret_cast<const char*>(avi.data()), avi.size());
  std::size_t at = 0;
  for (int i = 0; (at = bytes.find("strh", at)) != std::string_view::npos; ++i, at += 4) {
    if (i == index) return at + 8;
  }
  return std::nullopt;
}

// Sets a 32-bit field (dwInitialFrames at 16, dwStart at 28) of the AVI's `index`-th stream header.
bool PatchStreamHeader(const std::filesystem::path& avi, int index, std::size_t field, uint32_t value) {
  std::vector<uint8_t> bytes = test::ReadAllBytes(avi);
  const std::optional<std::size_t> header = StreamHeaderAt(bytes, index);
  if (!header || *header + 32 > bytes.size()) return false;
  for (std::size_t i = 0; i < 4; ++i) bytes[*header + field + i] = static_cast<uint8_t>(value >> (8 * i));
  return test::WriteAllBytes(avi, bytes);
}

uint32_t PictureRate(Container container) {
  switch (container) {
    case Container::kMpegPs: return 25;  // a rate MPEG-1 video has
    case Container::kAvi: return 10;     // 0.3 s is three whole frames
    default: return 15;
  }
}

bool MakeShiftedClip(const Shift& s, const std::filesystem::path& clip) {
  const bool avi = s.container == Container::kAvi;
  const std::string seconds = std::to_string(kShiftedClipSeconds);
  const std::string flash = std::to_string(kShiftedFlashSeconds);
  std::string codecs = " -c:v mjpeg -q:v 3 -c:a pcm_s16le";
  if (s.container == Container::kMp4) codecs = " -c:v mpeg4 -q:v 3 -c:a aac";
  if (s.container == Container::kMpegPs) codecs = " -c:v mpeg1video -q:v 3 -c:a mp2 -ar 44100 -f mpeg";
  const std::string shift = avi ? "" : " -itsoffset " + std::to_string(s.milliseconds / 1000.0);
  if (!test::RunFfmpegTool("-f lavfi -i color=c=black:s=320x240:r=" + std::to_string(PictureRate(s.container)) +
                           ":d=" + seconds + shift + " -f lavfi -i \"aevalsrc=0.5*sin(2*PI*1000*t)*gte(t\\," + flash +
                           "):s=22050:d=" + seconds + "\"" + " -vf \"drawbox=c=white:t=fill:enable='gte(t," + flash +
                           ")'\"" + codecs + " -ac 1 " + test::ShellQuoted(clip))) {
    return false;
  }
  if (!avi) return true;
  // The sound's dwStart counts its 22050 Hz samples, the picture's its frames. The sound's
  // dwInitialFrames, 0.75 s as capture tools write it, says how far ahead of the pictures its
  // chunks are stored, not when it plays: it must move nothing.
  if (!PatchStreamHeader(clip, 1, 16, 22050 * 3 / 4)) return false;
  if (s.milliseconds > 0) return PatchStreamHeader(clip, 1, 28, static_cast<uint32_t>(s.milliseconds * 22050 / 1000));
  return PatchStreamHeader(clip, 0, 28, static_cast<uint32_t>(-s.milliseconds * PictureRate(s.container) / 1000));
}

// What the ffprobe tool prints for `arguments` on the clip in `folder`.
std::string Probe(const std::filesystem::path& folder, const std::string& arguments) {
  return test::RunCommand("cd " + test::ShellQuoted(folder) + " && ffprobe -v error " + arguments).output;
}

// The ffmpeg tool's own presentation of the clip: the time of its first bright picture and of its
// beep's first loud sample (the first sound frame's time stamp and the samples decoded after it),
// in seconds from the file's time 0.
struct Presented {
  double flash = -1;
  double beep = -1;
};

Presented PresentedByFfmpeg(const std::filesystem::path& folder, const std::string& clip) {
  Presented presented;
  std::istringstream pictures(Probe(folder, "-f lavfi -i movie=" + clip + ",signalstats -show_entries "
                                            "frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv=p=0"));
  for (std::string line; std::getline(pictures, line);) {
    const std::size_t comma = line.find(',');
    if (comma != std::string::npos && std::stod(line.substr(comma + 1)) > 128) {
      presented.flash = std::stod(line.substr(0, comma));
      break;
    }
  }
  const std::string firstSound =
      Probe(folder, "-select_streams a:0 -show_entries frame=pts_time -of csv=p=0 " + clip + " | head -n 1");
  const double rate = std::stod(Probe(folder, "-select_streams a:0 -show_entries stream=sample_rate -of csv=p=0 " + clip));
  if (!test::RunFfmpegTool("-i " + test::ShellQuoted(folder / clip) + " -map 0:a:0 -ac 1 -f s16le " +
                           test::ShellQuoted(folder / "presented.raw"))) {
    return presented;
  }
  const std::vector<uint8_t> pcm = test::ReadAllBytes(folder / "presented.raw");
  for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
    const auto sample = static_cast<int16_t>(pcm[i] | (pcm[i + 1] << 8));
    if (std::abs(sample) >= 4000) {
      presented.beep = std::stod(firstSound) + static_cast<double>(i / 2) / rate;
      break;
    }
  }
  return presented;
}

// Seconds of sound in a companion, as the player decodes it.
double CompanionSeconds(const std::filesystem::path& sound) {
  std::unique_ptr<SoundStream> stream = MakeSoundStream(test::ReadAllBytes(sound));
  if (!stream->OpenFile(sound.string())) return 0;
  std::vector<int16_t> block(22050);
  std::size_t samples = 0;
  for (std::size_t got = 0; (got = stream->ReadPcm(block, false)) > 0;) samples += got;
  return static_cast<double>(samples) / 22050.0;
}

class ShiftedSoundTest : public ::testing::TestWithParam<Shift> {};

TEST_P(ShiftedSoundTest, BeepKeepsItsDistanceFromTheFlash) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  const Shift s = GetParam();
  test::ScratchFolder folder;
  static const char* const kExtensions[] = {".mkv", ".mp4", ".mpg", ".avi"};
  const std::string clip = std::string("clip") + kExtensions[static_cast<int>(s.container)];
  ASSERT_TRUE(MakeShiftedClip(s, folder.Path() / clip));
  const Presented presented = PresentedByFfmpeg(folder.Path(), clip);
  ASSERT_GE(presented.flash, 0.0) << "the ffmpeg tool shows no flash";
  ASSERT_GE(presented.beep, 0.0) << "the ffmpeg tool plays no beep";
  const double expected = (presented.beep - presented.flash) * 1000.0;
  ASSERT_NEAR(expected, s.milliseconds, 30.0) << "the clip does not hold the shift it was made with";

  const test::CommandResult converted = test::RunCommand(
      test::ShellQuoted(std::string_view(REELFORGE_CLI_PATH)) + " --frame-rate max --rate 22.05 --mono" +
      (s.timeSync ? " --playback-mode time" : "") + " --output-dir " + test::ShellQuoted(folder.Path()) + " " +
      test::ShellQuoted(folder.Path() / clip));
  ASSERT_EQ(converted.status, 0) << converted.output;
  const std::filesystem::path movie = folder.Path() / "clip.qrx";

  // The first bright movie frame (dark pictures, then bright ones), the frame before it dark.
  const QrxHeader header = test::ReadHeader(movie);
  const auto bright = [&](uint32_t k) { return PictureLevel(movie, k, folder.Path() / "frame.ppm").value_or(0) > 128; };
  uint32_t flashFrame = 0;
  for (uint32_t last = header.frameCount; flashFrame < last;) {
    const uint32_t middle = flashFrame + (last - flashFrame) / 2;
    if (bright(middle)) {
      last = middle;
    } else {
      flashFrame = middle + 1;
    }
  }
  ASSERT_LT(flashFrame, header.frameCount) << "no flash in the movie";
  ASSERT_GT(flashFrame, 0u);
  ASSERT_FALSE(bright(flashFrame - 1));

  Mp3Plugin::SetModuleName(LODESTAR_PATH);
  const std::optional<Played> played = PlayAndMeasure(folder.Path(), flashFrame, 3.2);
  ASSERT_TRUE(played.has_value());
  std::cout << "[ shift ] " << ShiftName({s, 0}) << ": sound minus picture " << played->Offset()
            << " ms, the ffmpeg tool " << expected << " ms; movie " << header.frameCount << " frames at "
            << header.frameRate << " fps (" << 1000.0 * header.frameCount / header.frameRate << " ms), companion "
            << 1000.0 * CompanionSeconds(folder.Path() / "clip.mp3") << " ms\n";
  EXPECT_NEAR(played->Offset(), expected, 10.0);
}

std::vector<Shift> AllShifts() {
  std::vector<Shift> all;
  for (const int milliseconds : {500, -300}) {
    for (const Container container : {Container::kMkv, Container::kMp4, Container::kMpegPs}) {
      for (const bool timeSync : {false, true}) all.push_back(Shift{container, milliseconds, timeSync});
    }
    all.push_back(Shift{Container::kAvi, milliseconds});
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(Shifts, ShiftedSoundTest, ::testing::ValuesIn(AllShifts()), ShiftName);

}  // namespace
}  // namespace reel
