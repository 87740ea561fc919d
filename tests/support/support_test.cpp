// The shared helpers where a fault would mislead other tests: quoting that keeps a hostile path
// one argument, and the two MP3 reference decodes, which must differ exactly by the encoder's
// information frame, delay and padding.
#include <gtest/gtest.h>

#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/mp3_decoding.h"
#include "tests/support/scratch_folder.h"

namespace reel::test {
namespace {

TEST(SupportShellQuoted, KeepsSpacesQuotesAndDollarsAsOneArgument) {
  const ScratchFolder folder("support");
  const auto path = folder.Path() / "it's a $HOME `x`.bin";
  ASSERT_TRUE(WriteAllBytes(path, std::string_view("abc")));
  const CommandResult listed = RunCommand("wc -c < " + ShellQuoted(path));
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.output, "3\n");
  EXPECT_EQ(ReadAllBytes(path), (std::vector<uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(RunCommand("exit 3").status, 3);
}

TEST(SupportMp3Decoding, GaplessGivesTheEncodedSamplesAndEveryFrameGivesMore) {
  if (!FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  const ScratchFolder folder("support");
  const auto path = folder.Path() / "tone.mp3";
  ASSERT_TRUE(RunFfmpegTool("-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1 -ac 2 -c:a libmp3lame -b:a 64k " +
                            ShellQuoted(path)));
  const auto gapless = DecodeMp3File(path, Mp3Decoding::kGapless);
  ASSERT_TRUE(gapless);
  EXPECT_TRUE(gapless->complete);
  EXPECT_EQ(gapless->rate, 22050u);
  EXPECT_EQ(gapless->channels, 2);
  EXPECT_EQ(gapless->Frames(), 22050u);
  const auto everyFrame = DecodeMp3Bytes(ReadAllBytes(path), Mp3Decoding::kEveryFrame);
  ASSERT_TRUE(everyFrame);
  // MPEG-2 layer III frames hold 576 samples; the information frame is one more frame.
  EXPECT_EQ(everyFrame->Frames() % 576, 0u);
  EXPECT_GT(everyFrame->Frames(), gapless->Frames() + 576);
  EXPECT_FALSE(DecodeMp3Bytes(std::vector<uint8_t>(3000, 0x42), Mp3Decoding::kGapless));
}

}  // namespace
}  // namespace reel::test
