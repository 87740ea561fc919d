// AVI jobs on clips made here with the ffmpeg tool: codecs, sound formats, sizes and rates,
// several streams, two jobs in a row, and every way a job is refused or stopped.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "converter/audio/mp3_encoder.h"
#include "converter/audio/sound_format_conversion.h"
#include "job_test_support.h"
#include "platform/avifile/avi_file.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/qrx_movie_checks.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/shared_media.h"

namespace reel {
namespace {

using test::ScratchFolder;

// A clip of `frames` pictures of a moving test pattern, with the given sound inputs.
std::string VideoInput(const std::string& size, const std::string& rate) {
  return "-f lavfi -i testsrc=size=" + size + ":rate=" + rate + " ";
}
std::string ToneInput(double seconds, int sampleRate) {
  return "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(sampleRate) +
         ":duration=" + std::to_string(seconds) + " ";
}

class AviJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  }
  ScratchFolder folder_;
};

struct ClipCase {
  const char* name;
  std::string ffmpegArguments;  // inputs and codecs; the output name is added
  int32_t frameRateChoice;  // the record's number
  uint32_t frames, rate, width, height;
  double soundSeconds;  // 0: no sound stream
};

class AviClipTest : public AviJobTest, public ::testing::WithParamInterface<ClipCase> {};

TEST_P(AviClipTest, ConvertsToTheExpectedMovieAndSound) {
  const ClipCase& c = GetParam();
  const std::string source = folder_.File(std::string(c.name) + ".avi");
  ASSERT_TRUE(test::RunFfmpegTool(c.ffmpegArguments + "'" + source + "'"));
  JobSettings settings = test::SettingsFor(source, folder_.Path().string());
  settings.frameRateChoice = static_cast<FrameRateChoice>(c.frameRateChoice);
  const JobReport report = test::RunJob(settings);
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  EXPECT_TRUE(report.warnings.empty()) << report.warnings.front();
  const std::string movie = folder_.File(std::string(c.name) + ".qrx");
  const QrxHeader header = test::ReadHeader(movie);
  EXPECT_EQ(header.frameCount, c.frames);
  EXPECT_EQ(header.frameRate, c.rate);
  EXPECT_EQ(header.width, c.width);
  EXPECT_EQ(header.height, c.height);
  EXPECT_TRUE(test::Verified(movie));
  const std::string sound = folder_.File(std::string(c.name) + ".mp3");
  if (c.soundSeconds == 0) {
    EXPECT_FALSE(std::filesystem::exists(sound));
    return;
  }
  const auto duration = test::AudioDuration(sound);
  ASSERT_TRUE(duration);
  EXPECT_NEAR(*duration, c.soundSeconds, 0.15);
}

INSTANTIATE_TEST_SUITE_P(
    Clips, AviClipTest,
    ::testing::Values(
        ClipCase{"mjpeg_pcm16", VideoInput("640x480", "30000/1001") + ToneInput(2, 44100) +
                                    "-frames:v 60 -c:v mjpeg -q:v 4 -c:a pcm_s16le -ac 2 ",
                 0, 30, 15, 320, 240, 2.0},
        ClipCase{"raw_pcm8", VideoInput("352x240", "25") + ToneInput(2, 11025) +
                                 "-frames:v 50 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 ",
                 0, 24, 12, 320, 218, 2.0},
        ClipCase{"mjpeg_mp3", VideoInput("320x200", "15") + ToneInput(2, 44100) +
                                  "-frames:v 30 -c:v mjpeg -c:a libmp3lame -b:a 96k ",
                 // The muxer counts one frame more than it stores (31); that frame repeats the last.
                 0, 31, 15, 320, 200, 2.0},
        ClipCase{"portrait_adpcm", VideoInput("240x320", "16") + ToneInput(2, 22050) +
                                       "-frames:v 32 -c:v mjpeg -c:a adpcm_ms ",
                 0, 16, 8, 180, 240, 2.0},
        ClipCase{"silent_lowest", VideoInput("320x240", "11") + "-frames:v 22 -c:v mjpeg ", 2, 6, 3, 320, 240, 0.0},
        ClipCase{"mpeg4_highest", VideoInput("320x240", "25") + ToneInput(1, 22050) +
                                      "-frames:v 25 -c:v mpeg4 -bf 2 -c:a pcm_s16le ",
                 1, 25, 25, 320, 240, 1.0}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(AviJobTest, TheSecondSoundStreamReplacesTheFirst) {
  const std::string source = folder_.File("two.avi");
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("160x120", "15") + ToneInput(2, 22050) + ToneInput(1, 22050) +
                                  "-map 0:v -map 1:a -map 2:a -frames:v 30 -c:v mjpeg -c:a pcm_s16le '" + source + "'"));
  const JobReport report = test::RunJob(test::SettingsFor(source, folder_.Path().string()));
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  const auto duration = test::AudioDuration(folder_.File("two.mp3"));
  ASSERT_TRUE(duration);
  EXPECT_NEAR(*duration, 1.0, 0.15);
}

// The companion as the whole-block path makes it: the stream read whole, converted whole and
// encoded whole.
std::vector<uint8_t> WholeBlockCompanion(const std::string& source, uint32_t stream, const JobSettings& settings) {
  Result<AviFile> file = AviFile::Open(source);
  EXPECT_TRUE(file);
  if (!file) return {};
  const auto format = ReadAudioFormat(file->ReadFormat(stream));
  auto data = file->ReadWholeStream(stream);
  EXPECT_TRUE(format && data);
  if (!format || !data) return {};
  const FirstStageResult pcm = ConvertSoundtrackToPcm(*format, std::move(*data));
  return EncodeMp3(pcm.soundtrack.data, pcm.soundtrack.format, settings.Sound()).bytes;
}

// One thread (the plain loop, the sound after the video) against the frame pipeline with the
// sound encoded beside it: the movie and the companion are the same bytes, and the companion is
// the whole-block path's.
TEST_F(AviJobTest, ThreadsGiveTheSameMovieAndCompanionAsOneThreadByteForByte) {
  const std::string source = folder_.File("same.avi");
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("640x480", "25") + ToneInput(3, 44100) +
                                  "-frames:v 50 -c:v mpeg4 -bf 2 -c:a adpcm_ms -ac 2 '" + source + "'"));
  JobSettings settings = test::SettingsFor(source, folder_.Path().string());
  const std::vector<uint8_t> reference = WholeBlockCompanion(source, 1, settings);
  ASSERT_GT(reference.size(), 1000u);
  std::vector<uint8_t> plain;
  for (const unsigned coders : {0u, 1u, 3u}) {
    const std::string out = folder_.File("coders" + std::to_string(coders));
    std::filesystem::create_directory(out);
    settings.outputFolder = out;
    const JobReport report = test::RunJob(settings, std::nullopt, nullptr, coders);
    ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
    EXPECT_TRUE(report.warnings.empty()) << report.warnings.front();
    EXPECT_EQ(report.audioPath, out + "/same.mp3");
    EXPECT_EQ(report.audioBytes, reference.size());
    const auto movie = test::ReadAllBytes(out + "/same.qrx");
    EXPECT_TRUE(test::ReadAllBytes(out + "/same.mp3") == reference) << coders << " coders";
    if (coders == 0) {
      plain = movie;
      EXPECT_EQ(test::ReadHeader(out + "/same.qrx").frameCount, 24u);
    } else {
      EXPECT_TRUE(movie == plain) << coders << " coders";
    }
  }
}

// A stream read in pieces is the stream read whole, on the shared media's AVIs.
TEST_F(AviJobTest, SoundStreamPiecesJoinToTheWholeStream) {
  if (!test::HaveSharedMediaFolder()) GTEST_SKIP() << "the shared media folder is not present";
  int compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(test::SharedMediaPath(""))) {
    if (entry.path().extension() != ".avi") continue;
    Result<AviFile> file = AviFile::Open(entry.path().string());
    ASSERT_TRUE(file) << entry.path();
    for (uint32_t stream = 0; stream < file->StreamCount(); ++stream) {
      if (file->StreamInfo(stream).fccType != kStreamTypeAudio) continue;
      const auto whole = file->ReadWholeStream(stream);
      auto pieces = file->ReadStreamPieces(stream);
      ASSERT_TRUE(whole && pieces) << entry.path();
      std::vector<uint8_t> joined;
      while (const auto piece = pieces->Next()) joined.insert(joined.end(), piece->begin(), piece->end());
      EXPECT_TRUE(joined == *whole) << entry.path();
      ++compared;
    }
  }
  EXPECT_GT(compared, 0);
}

TEST_F(AviJobTest, TwoJobsInARowEachGetTheirOwnStreams) {
  const std::string first = folder_.File("first.avi");
  const std::string second = folder_.File("second.avi");
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("320x240", "15") + ToneInput(1, 22050) + "-frames:v 15 -c:v mjpeg -c:a pcm_s16le '" + first + "'"));
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("352x240", "10") + "-frames:v 10 -c:v mjpeg '" + second + "'"));
  EXPECT_EQ(test::RunJob(test::SettingsFor(first, folder_.Path().string())).status, JobStatus::kSucceeded);
  const JobReport report = test::RunJob(test::SettingsFor(second, folder_.Path().string()));
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  EXPECT_FALSE(std::filesystem::exists(folder_.File("second.mp3")));
  const QrxHeader header = test::ReadHeader(folder_.File("second.qrx"));
  EXPECT_EQ(header.frameCount, 10u);
  EXPECT_EQ(header.height, 218u);
  EXPECT_EQ(test::ReadHeader(folder_.File("first.qrx")).frameCount, 15u);
}

TEST_F(AviJobTest, SourceShorterThanOneStepGivesAnEmptyMovieAndStillItsSound) {
  const std::string source = folder_.File("blink.avi");
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("320x240", "30") + ToneInput(0.5, 22050) +
                                  "-frames:v 1 -c:v mjpeg -c:a pcm_s16le '" + source + "'"));
  const JobReport report = test::RunJob(test::SettingsFor(source, folder_.Path().string()));
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  const auto movie = test::ReadAllBytes(folder_.File("blink.qrx"));
  ASSERT_EQ(movie.size(), 48u);
  const QrxHeader header = test::ReadHeader(folder_.File("blink.qrx"));
  EXPECT_EQ(header.frameCount, 0u);
  EXPECT_EQ(header.dataOffset, 48u);
  EXPECT_EQ(header.fileSize, 48u);
  EXPECT_TRUE(std::filesystem::exists(folder_.File("blink.mp3")));
}

TEST_F(AviJobTest, AnOlderMovieOfTheSameNameIsReplacedWhole) {
  const std::string source = folder_.File("again.avi");
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("320x240", "15") + "-frames:v 15 -c:v mjpeg '" + source + "'"));
  folder_.WriteFile("again.qrx", std::string(1 << 20, 'x'));
  ASSERT_EQ(test::RunJob(test::SettingsFor(source, folder_.Path().string())).status, JobStatus::kSucceeded);
  EXPECT_EQ(test::ReadHeader(folder_.File("again.qrx")).fileSize, std::filesystem::file_size(folder_.File("again.qrx")));
  EXPECT_TRUE(test::Verified(folder_.File("again.qrx")));
}

TEST_F(AviJobTest, OutputsThatWouldReplaceTheSourceAreRefusedBeforeAnythingIsWritten) {
  // An AVI that happens to be named like the movie or the companion file it would become.
  for (const char* name : {"clip.qrx", "tune.mp3"}) {
    const std::string source = folder_.File(name);
    ASSERT_TRUE(test::RunFfmpegTool(VideoInput("160x120", "15") + ToneInput(1, 22050) +
                                    "-frames:v 15 -c:v mjpeg -c:a pcm_s16le -f avi '" + source + "'"));
    const auto original = test::ReadAllBytes(source);
    const auto before = folder_.Names();
    const JobReport report = test::RunJob(test::SettingsFor(source, folder_.Path().string()));
    EXPECT_EQ(report.status, JobStatus::kFailed);
    EXPECT_NE(report.error.find("would replace the source"), std::string::npos) << report.error;
    EXPECT_EQ(test::ReadAllBytes(source), original);
    EXPECT_EQ(folder_.Names(), before);
  }
}

// A file the AVI layer refuses as not an AVI, and any file when the media framework is forced, goes
// to the media-framework job; a missing file and a bad quality entry end the job with nothing
// written.
TEST_F(AviJobTest, OtherSourcesGoToTheMediaFrameworkAndBadJobsWriteNothing) {
  const std::string mp4 = folder_.File("clip.mp4");
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("160x120", "15") + "-frames:v 5 '" + mp4 + "'"));
  JobReport report = test::RunJob(test::SettingsFor(mp4, folder_.Path().string()));
  EXPECT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  EXPECT_EQ(report.moviePath, folder_.File("clip.qrx"));
  EXPECT_EQ(report.frames, 2u);  // five frames in 333 ms measure 16 fps: 8 fps, (5 - 1) / 2 frames

  const std::string avi = folder_.File("fine.avi");
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("160x120", "15") + "-frames:v 5 -c:v mjpeg '" + avi + "'"));
  JobSettings forced = test::SettingsFor(avi, folder_.Path().string());
  forced.forceDirectShow = true;
  uint32_t exitCode = 1;
  report = test::RunJob(forced, std::nullopt, &exitCode);
  EXPECT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(report.frames, 2u);  // the AVI job would keep all 5
  const auto withAvi = folder_.Names();

  report = test::RunJob(test::SettingsFor(folder_.File("missing.avi"), folder_.Path().string()));
  EXPECT_EQ(report.status, JobStatus::kFailed);
  EXPECT_NE(report.error.find("missing.avi: cannot open"), std::string::npos) << report.error;

  JobSettings badQuality = test::SettingsFor(avi, folder_.Path().string());
  badQuality.pictureQuality = 20;
  EXPECT_EQ(test::RunJob(badQuality).status, JobStatus::kFailed);
  EXPECT_EQ(folder_.Names(), withAvi);
}

// The quality step: entry i becomes the JPEG quality 100 - 5 i; the 20 entries and nothing else.
TEST(JpegQualityTest, EntriesBecomeQualitiesFromOneHundredDownToFive) {
  EXPECT_EQ(*JpegQualityForLevel(0), 100);
  EXPECT_EQ(*JpegQualityForLevel(10), 50);
  EXPECT_EQ(*JpegQualityForLevel(19), 5);
  for (const int32_t bad : {-1, 20, 100}) {
    const auto quality = JpegQualityForLevel(bad);
    ASSERT_FALSE(quality) << bad;
    EXPECT_EQ(quality.kind(), ErrorKind::kUsage);
  }
}

TEST_F(AviJobTest, AVideoRateThatRoundsToZeroIsRefusedBeforeAnythingIsWritten) {
  const std::string source = folder_.File("slow.avi");
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("160x120", "15") + ToneInput(1, 22050) +
                                  "-frames:v 5 -c:v mjpeg -c:a pcm_s16le '" + source + "'"));
  // The video stream header now says 400 / 1000 = 0.4 frames per second.
  auto bytes = test::ReadAllBytes(source);
  std::size_t data = 0;
  for (std::size_t i = 0; i + 12 < bytes.size() && data == 0; ++i) {
    const std::string tag(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.begin() + static_cast<std::ptrdiff_t>(i) + 4);
    const std::string type(bytes.begin() + static_cast<std::ptrdiff_t>(i) + 8, bytes.begin() + static_cast<std::ptrdiff_t>(i) + 12);
    if (tag == "strh" && type == "vids") data = i + 8;
  }
  ASSERT_NE(data, 0u);
  const uint8_t scaleAndRate[] = {0xE8, 0x03, 0, 0, 0x90, 0x01, 0, 0};
  std::copy(std::begin(scaleAndRate), std::end(scaleAndRate), bytes.begin() + static_cast<std::ptrdiff_t>(data + 20));
  ASSERT_TRUE(test::WriteAllBytes(source, bytes));
  const auto before = folder_.Names();
  const JobReport report = test::RunJob(test::SettingsFor(source, folder_.Path().string()));
  EXPECT_EQ(report.status, JobStatus::kFailed);
  EXPECT_NE(report.error.find("rounds to 0 frames per second"), std::string::npos) << report.error;
  EXPECT_EQ(folder_.Names(), before);  // not even the sound was written
}

TEST_F(AviJobTest, AVideoCodecWithoutADecoderIsRefusedBeforeAnythingIsWritten) {
  const std::string source = folder_.File("odd.avi");
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("160x120", "15") + ToneInput(1, 22050) +
                                  "-frames:v 5 -c:v mjpeg -c:a pcm_s16le '" + source + "'"));
  // Every mention of the codec becomes a made-up one.
  auto bytes = test::ReadAllBytes(source);
  for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (bytes[i] == 'M' && bytes[i + 1] == 'J' && bytes[i + 2] == 'P' && bytes[i + 3] == 'G') {
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(i), 4, uint8_t{'Q'});
    }
  }
  ASSERT_TRUE(test::WriteAllBytes(source, bytes));
  const auto before = folder_.Names();
  const JobReport report = test::RunJob(test::SettingsFor(source, folder_.Path().string()));
  EXPECT_EQ(report.status, JobStatus::kFailed);
  EXPECT_NE(report.error.find("no decoder for video stream 0"), std::string::npos) << report.error;
  EXPECT_EQ(folder_.Names(), before);
}

TEST_F(AviJobTest, AnOutputFolderThatCannotBeWrittenStopsTheJob) {
  const std::string source = folder_.File("clip.avi");
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("160x120", "15") + "-frames:v 5 -c:v mjpeg '" + source + "'"));
  const JobReport report = test::RunJob(test::SettingsFor(source, folder_.File("no/such/folder")));
  EXPECT_EQ(report.status, JobStatus::kFailed);
  EXPECT_NE(report.error.find("cannot create"), std::string::npos) << report.error;
}

TEST_F(AviJobTest, AStoppedJobLeavesNoFilesBehind) {
  const std::string source = folder_.File("long.avi");
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("320x240", "30") + ToneInput(4, 22050) +
                                  "-frames:v 120 -c:v mjpeg -c:a pcm_s16le '" + source + "'"));
  const auto before = folder_.Names();
  const JobReport report = test::RunJob(test::SettingsFor(source, folder_.Path().string()), 3);
  EXPECT_EQ(report.status, JobStatus::kStopped);
  EXPECT_EQ(folder_.Names(), before);
}

TEST_F(AviJobTest, DamagedFramesRepeatTheOneBeforeThem) {
  const std::string source = folder_.File("hurt.avi");
  ASSERT_TRUE(test::RunFfmpegTool(VideoInput("160x120", "15") + "-frames:v 15 -c:v mjpeg '" + source + "'"));
  // Spoil every picture after the first few: each JPEG is wiped.
  auto bytes = test::ReadAllBytes(source);
  int pictures = 0;
  for (std::size_t i = 0; i + 10 < bytes.size(); ++i) {
    const bool chunk = bytes[i] == '0' && bytes[i + 1] == '0' && bytes[i + 2] == 'd' && bytes[i + 3] == 'c';
    if (!chunk || bytes[i + 8] != 0xFF || bytes[i + 9] != 0xD8) continue;
    if (pictures++ < 5) continue;
    const uint32_t size = bytes[i + 4] | (bytes[i + 5] << 8) | (bytes[i + 6] << 16) | (uint32_t{bytes[i + 7]} << 24);
    for (std::size_t j = i + 8; j < i + 8 + size && j < bytes.size(); ++j) bytes[j] = 0;
  }
  ASSERT_EQ(pictures, 15);
  ASSERT_TRUE(test::WriteAllBytes(source, bytes));
  const JobReport report = test::RunJob(test::SettingsFor(source, folder_.Path().string()));
  ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
  EXPECT_EQ(test::ReadHeader(folder_.File("hurt.qrx")).frameCount, 15u);
  EXPECT_TRUE(test::Verified(folder_.File("hurt.qrx")));
  ASSERT_EQ(report.warnings.size(), 1u);
  EXPECT_NE(report.warnings[0].find("10 of 15 frames could not be read or decoded"), std::string::npos) << report.warnings[0];
}

}  // namespace
}  // namespace reel
