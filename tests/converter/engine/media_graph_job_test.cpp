// The media-framework job on clips made here: pictures that carry their own index, in the
// containers people hold, converted in both modes; the frames a movie holds are decoded back and
// their indices compared with the source frames the frame-rate arithmetic selects. Then the
// soundtrack (MP3 and Ogg, rates and channel counts), and the files the job refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "converter/audio/soundtrack_extraction.h"
#include "platform/mediagraph/media_graph.h"
#include "job_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/qrx_movie_checks.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

// Picture n shows its index as two base-16 digits: the left half at grey 16 x (n / 16), the right
// half at 16 x (n % 16). Steps of 16 survive JPEG coding and the 5-6-5 pixels of a decoded frame.
std::string IndexedVideo(const std::string& size, const std::string& rate) {
  const std::string digit = "16*if(lt(X\\,W/2)\\,floor(N/16)\\,mod(N\\,16))";
  return "-f lavfi -i \"color=c=black:s=" + size + ":r=" + rate + ",format=rgb24,geq=r='" + digit + "':g='" + digit +
         "':b='" + digit + "'\" ";
}

std::string Tone(int channels, int rate, double seconds) {
  return "-f lavfi -i \"sine=frequency=440:sample_rate=" + std::to_string(rate) + ":duration=" +
         std::to_string(seconds) + "\" -ac " + std::to_string(channels) + " ";
}

// The index shown by frame k of a movie, from the frame qrxtool decodes.
int MovieFrameIndex(const std::string& movie, uint32_t k, const std::string& scratch) {
  const std::optional<test::RgbPicture> picture = test::DecodeMovieFrame(movie, k, scratch + "/frame.ppm");
  if (!picture) return -1;
  const int width = picture->width;
  const int height = picture->height;
  auto digit = [&](int centreX) {
    double sum = 0;
    for (int y = height / 2 - 4; y < height / 2 + 4; ++y) {
      for (int x = centreX - 4; x < centreX + 4; ++x) sum += picture->At(x, y, 1);
    }
    return static_cast<int>(std::lround(sum / 64 / 16));
  };
  return digit(width / 4) * 16 + digit(3 * width / 4);
}

// The presentation times of a file's pictures, in seconds from the first, as the file states them
// (a time that repeats or goes back follows the one before it by a hair).
std::vector<double> PictureTimes(const std::string& path) {
  const test::CommandResult probed = test::RunCommand(
      "ffprobe -v error -select_streams v:0 -show_entries frame=best_effort_timestamp_time -of csv=p=0 " +
      test::ShellQuoted(std::string_view(path)));
  std::vector<double> times;
  std::istringstream lines(probed.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    double time = line == "N/A" ? -1 : std::stod(line);
    if (!times.empty()) {
      if (time < 0) time = times.back();
      time = std::max(time - times.front(), times.back() - times.front() + 1e-7) + times.front();
    }
    times.push_back(time);
  }
  const double origin = times.empty() ? 0 : times.front();
  for (double& time : times) time -= origin;
  return times;
}

// The picture on screen at `seconds`: the last one that starts by then (a millisecond's grace for
// containers that round their times to milliseconds).
int PictureOnScreen(const std::vector<double>& times, double seconds) {
  int index = 0;
  for (std::size_t n = 0; n < times.size(); ++n) {
    if (times[n] <= seconds + 0.001) index = static_cast<int>(n);
  }
  return index;
}

struct ClipCase {
  const char* name;      // file name; its extension picks the container
  const char* size;
  const char* rate;      // as the clip is made
  double frameSeconds;   // 1 / rate
  int frames;
  const char* video;     // codec options
  uint32_t step;         // N for the standard frame-rate choice
  uint32_t width, height;
};

class MediaGraphJobClips : public ::testing::TestWithParam<ClipCase> {};

TEST_P(MediaGraphJobClips, BothModesKeepTheFramesTheArithmeticSelects) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  const ClipCase& c = GetParam();
  test::ScratchFolder folder;
  const std::string source = folder.File(c.name);
  ASSERT_TRUE(test::RunFfmpegTool(IndexedVideo(c.size, c.rate) + "-frames:v " + std::to_string(c.frames) + " " + c.video +
                              " '" + source + "'"));
  const std::vector<double> times = PictureTimes(source);
  ASSERT_EQ(times.size(), static_cast<std::size_t>(c.frames));
  const uint32_t expectedFrames = static_cast<uint32_t>(c.frames - 1) / c.step;
  for (const PlaybackMode mode : {PlaybackMode::kFrameSync, PlaybackMode::kTimeSync}) {
    const bool stepped = mode == PlaybackMode::kFrameSync;
    const std::string out = folder.File(stepped ? "frame" : "time");
    std::filesystem::create_directory(out);
    JobSettings settings = test::SettingsFor(source, out);
    settings.playbackMode = mode;
    // Frame sync on the threaded loop, time sync on the plain one: both read the graph in order.
    const JobReport report = test::RunJob(settings, std::nullopt, nullptr, stepped ? std::nullopt : std::optional(0u));
    ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
    EXPECT_TRUE(report.warnings.empty()) << report.warnings.front();
    EXPECT_EQ(report.frames, expectedFrames);
    EXPECT_EQ(report.width, c.width);
    EXPECT_EQ(report.height, c.height);
    EXPECT_TRUE(test::Verified(report.moviePath));
    EXPECT_TRUE(report.audioPath.empty());  // no sound, no companion
    for (uint32_t k = 0; k < report.frames; ++k) {
      const int64_t frame = MediaSourceFrameFor(k, c.step, stepped);
      const int expected = stepped ? static_cast<int>(frame)
                                   : PictureOnScreen(times, static_cast<double>(frame) * c.frameSeconds);
      EXPECT_EQ(MovieFrameIndex(report.moviePath, k, folder.Path().string()), expected)
          << (stepped ? "frame" : "time") << " sync, output frame " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Containers, MediaGraphJobClips,
    ::testing::Values(
        ClipCase{"mpeg1.mpg", "352x240", "30000/1001", 1001.0 / 30000, 40, "-c:v mpeg1video -q:v 2", 2, 320, 218},
        ClipCase{"h264.mp4", "160x120", "25", 0.04, 40, "-c:v libx264 -bf 2 -crf 10 -pix_fmt yuv420p", 2, 320, 240},
        ClipCase{"mpeg4.mkv", "160x120", "30", 1.0 / 30, 40, "-c:v mpeg4 -bf 2 -q:v 2", 2, 320, 240},
        ClipCase{"vp8.webm", "160x120", "30", 1.0 / 30, 40, "-c:v libvpx -b:v 2M", 2, 320, 240},
        ClipCase{"theora.ogv", "160x120", "20", 0.05, 40, "-c:v libtheora -q:v 9", 2, 320, 240},
        ClipCase{"h264.mov", "160x120", "24", 1.0 / 24, 40, "-c:v libx264 -bf 2 -crf 10 -pix_fmt yuv420p", 2, 320, 240},
        ClipCase{"h263.3gp", "176x144", "15", 1.0 / 15, 30, "-c:v h263 -q:v 2", 1, 320, 261}),
    [](const ::testing::TestParamInfo<ClipCase>& clip) {
      std::string name = clip.param.name;
      std::replace(name.begin(), name.end(), '.', '_');
      return name;
    });

class MediaGraphJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  }
  std::string Make(const std::string& name, const std::string& arguments) {
    const std::string path = folder_.File(name);
    return test::RunFfmpegTool(arguments + " '" + path + "'") ? path : "";
  }
  test::ScratchFolder folder_;
};

// The fixed source rate applies only when the media framework was not forced; the job records the
// source rate it used.
TEST_F(MediaGraphJobTest, FixedRateAppliesUnlessForced) {
  const std::string source = Make("clip.mp4", IndexedVideo("160x120", "30") + "-frames:v 30 -c:v libx264 -pix_fmt yuv420p");
  ASSERT_FALSE(source.empty());
  JobSettings settings = test::SettingsFor(source, folder_.Path().string());
  settings.frameRateOverride = FrameRateOverride::k24;
  JobReport report = test::RunJob(settings);
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  EXPECT_EQ(report.sourceRate, 24u);
  EXPECT_EQ(report.movieRate, 12u);
  settings.forceDirectShow = true;
  report = test::RunJob(settings);
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  EXPECT_EQ(report.sourceRate, 30u);
  EXPECT_EQ(report.movieRate, 15u);
  EXPECT_EQ(report.frames, 14u);
}

// The companion by the encoder choice: MP3 as long as the source's sound; Ogg at the companion's
// rate and channel count whatever the source had (48000 Hz, mono); the three lowest bit rates give
// the same Ogg stream.
TEST_F(MediaGraphJobTest, CompanionFollowsTheEncoderChoice) {
  const std::string stereo48 = Make("stereo48.mp4", IndexedVideo("160x120", "15") + Tone(2, 48000, 3) +
                                                        "-frames:v 45 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest");
  const std::string mono = Make("mono.mkv", IndexedVideo("160x120", "15") + Tone(1, 32000, 3) +
                                                "-frames:v 45 -c:v mpeg4 -c:a libvorbis -shortest");
  ASSERT_FALSE(stereo48.empty());
  ASSERT_FALSE(mono.empty());
  const auto sourceSeconds = test::AudioDuration(stereo48);
  ASSERT_TRUE(sourceSeconds);

  JobSettings settings = test::SettingsFor(stereo48, folder_.Path().string());
  JobReport report = test::RunJob(settings);
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  EXPECT_EQ(report.audioPath, folder_.File("stereo48.mp3"));
  const auto mp3Seconds = test::AudioDuration(report.audioPath);
  ASSERT_TRUE(mp3Seconds);
  EXPECT_NEAR(*mp3Seconds, *sourceSeconds, 0.15);

  auto probe = [](const std::string& path) {
    return test::RunCommand("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 " +
                            test::ShellQuoted(std::string_view(path))).output;
  };
  settings.encoderChoice = AudioEncoder::kOgg;
  settings.audioRate = AudioRate::k44100;
  report = test::RunJob(settings);
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  EXPECT_EQ(report.audioPath, folder_.File("stereo48.ogg"));
  EXPECT_EQ(probe(report.audioPath), "vorbis,44100,2\n");
  const auto oggSeconds = test::AudioDuration(report.audioPath);
  ASSERT_TRUE(oggSeconds);
  EXPECT_NEAR(*oggSeconds, *sourceSeconds, 0.15);

  JobSettings monoSettings = test::SettingsFor(mono, folder_.Path().string());
  monoSettings.encoderChoice = AudioEncoder::kOgg;
  monoSettings.channels = Channels::kMono;
  report = test::RunJob(monoSettings);
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  EXPECT_EQ(probe(report.audioPath), "vorbis,22050,1\n");
  monoSettings.channels = Channels::kStereo;
  report = test::RunJob(monoSettings);
  EXPECT_EQ(probe(report.audioPath), "vorbis,22050,2\n");

  std::vector<std::vector<uint8_t>> lowest;
  for (const int32_t index : {0, 1, 2, 3}) {
    const auto encoded = ExtractSoundtrackDShow(mono, {AudioEncoder::kOgg, index, false, true});
    ASSERT_TRUE(encoded && *encoded);
    lowest.push_back((*encoded)->bytes);
  }
  EXPECT_EQ(lowest[0], lowest[1]);
  EXPECT_EQ(lowest[0], lowest[2]);
  EXPECT_NE(lowest[0], lowest[3]);
}

// The soundtrack encoded beside the frame loop gives the movie and the companion of a run on one
// thread, and the companion is the whole-block extraction's, for both encoders.
TEST_F(MediaGraphJobTest, ThreadsGiveTheSameMovieAndCompanionAsOneThreadByteForByte) {
  const std::string source = Make("both.mp4", IndexedVideo("160x120", "15") + Tone(2, 48000, 3) +
                                                  "-frames:v 45 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest");
  ASSERT_FALSE(source.empty());
  // The companion starts at the movie's first picture: at 15 fps every picture is kept, and frame
  // sync steps once before its first grab.
  const Result<MediaGraph> graph = MediaGraph::Render(source);
  ASSERT_TRUE(graph && graph->StartTime());
  const int64_t firstPicture = *graph->StartTime() + graph->ConnectedType().avgTimePerFrame;
  for (const AudioEncoder encoder : {AudioEncoder::kMp3, AudioEncoder::kOgg}) {
    JobSettings settings = test::SettingsFor(source, folder_.Path().string());
    settings.encoderChoice = encoder;
    settings.audioRate = encoder == AudioEncoder::kOgg ? AudioRate::k44100 : AudioRate::k22050;
    settings.channels = encoder == AudioEncoder::kOgg ? Channels::kMono : Channels::kStereo;
    const auto whole = ExtractSoundtrackDShow(source, settings.Sound(), firstPicture);
    ASSERT_TRUE(whole && *whole);
    std::vector<uint8_t> movie;
    for (const unsigned coders : {0u, 2u}) {
      const std::string out = folder_.File("coders" + std::to_string(coders) + std::to_string(static_cast<int>(encoder)));
      std::filesystem::create_directory(out);
      settings.outputFolder = out;
      const JobReport report = test::RunJob(settings, std::nullopt, nullptr, coders);
      ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
      EXPECT_TRUE(test::ReadAllBytes(report.audioPath) == (*whole)->bytes) << coders << " coders";
      const auto bytes = test::ReadAllBytes(report.moviePath);
      if (coders == 0) movie = bytes;
      EXPECT_TRUE(bytes == movie) << coders << " coders";
    }
  }
}

// AAC in an AVI (read by the AVI job; tags 0x00FF and 0x706D) decodes to a companion as long as
// the sound, without a warning.
TEST_F(MediaGraphJobTest, AviWithAacSoundGetsAFullCompanion) {
  const std::string avi = Make("aac.avi", IndexedVideo("160x120", "15") + Tone(2, 44100, 3) +
                                              "-frames:v 45 -c:v mjpeg -c:a aac -b:a 96k -shortest");
  ASSERT_FALSE(avi.empty());
  std::vector<uint8_t> bytes = test::ReadAllBytes(avi);
  const std::string other = folder_.File("faad.avi");
  // The second stream format is the sound's: its first field is the format tag.
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t video = text.find("strf");
  const std::size_t audio = text.find("strf", video + 4);
  ASSERT_NE(audio, std::string::npos);
  ASSERT_EQ(bytes[audio + 8], 0xFF);
  bytes[audio + 8] = 0x6D;
  bytes[audio + 9] = 0x70;
  std::ofstream(other, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
  const auto sourceSeconds = test::AudioDuration(avi);
  ASSERT_TRUE(sourceSeconds);
  for (const std::string& path : {avi, other}) {
    const JobReport report = test::RunJob(test::SettingsFor(path, folder_.Path().string()));
    ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
    EXPECT_TRUE(report.warnings.empty()) << path << ": " << report.warnings.front();
    const auto seconds = test::AudioDuration(report.audioPath);
    ASSERT_TRUE(seconds) << path;
    EXPECT_NEAR(*seconds, *sourceSeconds, 0.15) << path;
  }
}

// Not media, media cut short before its index, and sound without video are refused with the file
// named, and nothing is written. A source shorter than one step gives an empty movie and its
// companion; one whose pictures end before its stated length repeats its last picture.
TEST_F(MediaGraphJobTest, BadSourcesAreRefusedAndShortOnesStillConvert) {
  const std::string text = folder_.File("notes.mpg");
  std::ofstream(text) << "these are not pictures\n";
  const std::string whole = Make("whole.mp4", IndexedVideo("160x120", "15") + "-frames:v 30 -c:v libx264 -pix_fmt yuv420p");
  const std::string sound = Make("sound.m4a", Tone(2, 44100, 1) + "-c:a aac");
  ASSERT_FALSE(whole.empty());
  ASSERT_FALSE(sound.empty());
  const std::string cut = folder_.File("cut.mp4");
  std::vector<uint8_t> bytes = test::ReadAllBytes(whole);
  bytes.resize(bytes.size() / 2);  // the sample table is at the end
  std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
  const auto before = folder_.Names();
  for (const std::string& path : {text, cut, sound}) {
    const JobReport report = test::RunJob(test::SettingsFor(path, folder_.Path().string()));
    EXPECT_EQ(report.status, JobStatus::kFailed) << path;
    EXPECT_EQ(report.error.rfind(path + ": ", 0), 0u) << report.error;
  }
  EXPECT_EQ(folder_.Names(), before);

  const std::string tiny = Make("tiny.mkv", IndexedVideo("160x120", "30") + Tone(2, 44100, 1) +
                                                "-frames:v 2 -c:v mpeg4 -c:a libvorbis");
  ASSERT_FALSE(tiny.empty());
  JobReport report = test::RunJob(test::SettingsFor(tiny, folder_.Path().string()));
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  EXPECT_EQ(report.frames, 0u);
  EXPECT_TRUE(test::Verified(report.moviePath));
  EXPECT_EQ(report.audioPath, folder_.File("tiny.mp3"));

  // The sample table first, the pictures' data cut short (pictures that stand alone): the table
  // promises 30 pictures.
  const std::string front = Make("front.mp4", IndexedVideo("160x120", "15") +
                                                  "-frames:v 30 -c:v mjpeg -movflags +faststart");
  ASSERT_FALSE(front.empty());
  bytes = test::ReadAllBytes(front);
  bytes.resize(bytes.size() * 2 / 3);
  const std::string shortened = folder_.File("shortened.mp4");
  std::ofstream(shortened, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                   static_cast<std::streamsize>(bytes.size()));
  for (const PlaybackMode mode : {PlaybackMode::kFrameSync, PlaybackMode::kTimeSync}) {
    JobSettings settings = test::SettingsFor(shortened, folder_.Path().string());
    settings.playbackMode = mode;
    report = test::RunJob(settings);
    ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
    EXPECT_EQ(report.frames, 29u);
    ASSERT_FALSE(report.warnings.empty());
    EXPECT_TRUE(test::Verified(report.moviePath));
    const int last = MovieFrameIndex(report.moviePath, 28, folder_.Path().string());
    EXPECT_GT(last, 0);
    EXPECT_LT(last, 29);
  }
}

// The real files of the shared media set convert in both modes.
class SharedMediaGraphJob : public ::testing::TestWithParam<const char*> {};

TEST_P(SharedMediaGraphJob, ConvertsInBothModes) {
  const std::filesystem::path source = std::filesystem::path(REEL_SHARED_MEDIA_DIR) / GetParam();
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "shared media file " << source << " is not present";
  for (const PlaybackMode mode : {PlaybackMode::kFrameSync, PlaybackMode::kTimeSync}) {
    test::ScratchFolder folder;
    JobSettings settings = test::SettingsFor(source.string(), folder.Path().string());
    settings.playbackMode = mode;
    const JobReport report = test::RunJob(settings);
    ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
    EXPECT_TRUE(report.warnings.empty()) << report.warnings.front();
    EXPECT_GT(report.frames, 0u);
    EXPECT_TRUE(test::Verified(report.moviePath));
    const auto expected = test::AudioDuration(source.string());
    const auto actual = test::AudioDuration(report.audioPath);
    ASSERT_TRUE(expected && actual);
    EXPECT_NEAR(*actual, *expected, 0.3);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, SharedMediaGraphJob,
                         ::testing::Values("mpeg1ps_vcd_ntsc_352x240_2997_mp2.mpg", "mp4_h264_aac_640x360_23976.mp4",
                                           "mov_h264_aac_320x180_10fps.mov", "mkv_msmpeg4v2_mp3_854x480_24fps.mkv",
                                           "webm_vp8_vorbis_560x320_30fps.webm", "ogv_theora_vorbis_560x320_30fps.ogv",
                                           "flv_flv1_mp3_320x240_25fps.flv"));

}  // namespace
}  // namespace reel
