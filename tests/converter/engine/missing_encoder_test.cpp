// Companions whose encoder gives nothing: gogo.dll cannot be found (this program lives away from it
// and the registry names none) or the Ogg encoder refuses at its start. The media-framework job
// writes no companion and leaves an older file of that name as it was; the AVI job writes the
// empty companion. Either way the movie is made and the warning says what was written.
#include <gtest/gtest.h>

#include <filesystem>

#include "job_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/scoped_registry.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

struct MissingEncoderCase {
  const char* source;        // made by the ffmpeg tool
  const char* makeArguments; // the ffmpeg arguments after the inputs
  AudioEncoder encoder;
  int32_t bitRateIndex;      // 14 is beyond the Ogg quality table: the encoder refuses to start
  const char* companion;
  bool emptyFileWritten;     // the AVI path writes its companion even without sound
  const char* warningSays;
};

const MissingEncoderCase kCases[] = {
    {"clip.mkv", "-c:v mjpeg -c:a pcm_s16le", AudioEncoder::kMp3, 3, "clip.mp3", false, "No companion file was written"},
    {"clip.mkv", "-c:v mjpeg -c:a pcm_s16le", AudioEncoder::kOgg, 14, "clip.ogg", false, "No companion file was written"},
    {"clip.avi", "-c:v mjpeg -c:a pcm_s16le", AudioEncoder::kMp3, 3, "clip.mp3", true, "was written empty"},
};

TEST(MissingEncoderTest, CompanionWithoutAnEncoderIsWrittenOnlyWhereThePathSaysAndTheWarningSaysSo) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed; run scripts/install-deps.sh";
  const test::ScopedRegistry noModule;
  for (const MissingEncoderCase& c : kCases) {
    SCOPED_TRACE(std::string(c.source) + " -> " + c.companion);
    test::ScratchFolder folder("missing-encoder");
    ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i sine=frequency=440:sample_rate=22050 "
                                    "-t 1 " + std::string(c.makeArguments) + " " +
                                    test::ShellQuoted(std::string_view(folder.File(c.source)))));
    const std::string older = "an older companion";
    folder.WriteFile(c.companion, older);
    JobSettings settings = test::SettingsFor(folder.File(c.source), folder.Path().string());
    settings.encoderChoice = c.encoder;
    settings.audioBitRateIndex = c.bitRateIndex;
    const JobReport report = test::RunJob(settings);
    ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
    EXPECT_TRUE(std::filesystem::exists(folder.File("clip.qrx")));
    EXPECT_EQ(folder.ReadFile(c.companion), c.emptyFileWritten ? "" : older);
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_NE(report.warnings[0].find(c.warningSays), std::string::npos) << report.warnings[0];
    EXPECT_EQ(report.audioPath.empty(), !c.emptyFileWritten);
  }
}

}  // namespace
}  // namespace reel
