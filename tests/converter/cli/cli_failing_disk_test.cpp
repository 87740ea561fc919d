// Outputs that cannot be written: a file-size limit (with SIGXFSZ ignored, and with its default,
// which the program sets aside itself), an output folder that is a file, a name too long for the
// file system. Each ends with an error naming the file, leaves no partial or temporary file, and
// leaves the source as it was.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_process.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

class CliFailingDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  }

  // The source's bytes, to compare after the run.
  std::vector<uint8_t> MakeSource(const std::string& name) {
    EXPECT_TRUE(test::MakeClip(folder_.File(name), 60, "320x240"));
    return test::ReadAllBytes(folder_.File(name));
  }

  test::ScratchFolder folder_;
  test::ScratchFolder logs_;
};

// A clip whose movie is larger than its sound, and one whose sound (two minutes) is larger than its
// movie (four pictures), so that each of the two files is the one that fails.
TEST_F(CliFailingDiskTest, AFileSizeLimitFailsTheJobCleanly) {
  const auto clip = MakeSource("clip.avi");
  ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i testsrc=size=320x240:rate=30 -f lavfi -i sine=duration=120 "
                                  "-frames:v 4 -c:v mjpeg -c:a pcm_s16le '" + folder_.File("talk.avi") + "'"));
  const auto talk = test::ReadAllBytes(folder_.File("talk.avi"));
  for (const std::string base : {"clip", "talk"}) {
    const std::string name = base + ".avi";
    const auto& source = base == "clip" ? clip : talk;
    std::filesystem::create_directory(folder_.File("free"));
    ASSERT_EQ(test::RunCli({"-o", "free", name}, folder_.Path(), logs_.Path()).status, 0);
    const auto movieSize = std::filesystem::file_size(folder_.File("free/" + base + ".qrx"));
    const auto soundSize = std::filesystem::file_size(folder_.File("free/" + base + ".mp3"));
    std::filesystem::remove_all(folder_.File("free"));
    // The first limit stops the movie at its start; the second lets the smaller file through and
    // stops the larger one.
    struct Case {
      rlim_t limit;
      std::string failing;
    };
    const Case cases[] = {{4096, base + ".qrx"},
                          {std::max(movieSize, soundSize) - 1, base + (movieSize > soundSize ? ".qrx" : ".mp3")}};
    for (const Case& limit : cases) {
      for (const bool ignored : {true, false}) {
        SCOPED_TRACE(name + ", limit " + std::to_string(limit.limit) + (ignored ? ", SIGXFSZ ignored" : ", SIGXFSZ default"));
        test::CliStart start;
        start.fileSizeLimit = limit.limit;
        start.ignoreFileSizeSignal = ignored;
        const test::CliResult result = test::RunCli({name}, folder_.Path(), logs_.Path(), start);
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_NE(result.err.find(folder_.File(limit.failing)), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("File too large"), std::string::npos) << result.err;
        EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"clip.avi", "talk.avi"}));
        EXPECT_EQ(test::ReadAllBytes(folder_.File(name)), source);
      }
    }
  }
}

TEST_F(CliFailingDiskTest, AnOutputFolderThatIsAFile) {
  const auto source = MakeSource("clip.avi");
  ASSERT_TRUE(test::WriteAllBytes(folder_.File("notes"), std::string_view("not a folder")));
  for (const char* jobs : {"1", "2"}) {
    const test::CliResult result = test::RunCli({"-j", jobs, "-o", "notes", "clip.avi", "clip.avi"}, folder_.Path(), logs_.Path());
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("reelforge-cli: notes/clip.qrx: cannot create a file in the output folder: Not a directory"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"clip.avi", "notes"}));
    EXPECT_EQ(test::ReadAllBytes(folder_.File("clip.avi")), source);
  }
}

// A 255-byte name without an extension gets ".qrx" added: too long for the file system. A name
// just short enough is converted, although its temporary name has to be shortened.
TEST_F(CliFailingDiskTest, NamesNearAndBeyondTheFileSystemsLimit) {
  const auto source = MakeSource("clip.avi");
  const std::string tooLong(255, 'n');
  std::filesystem::copy_file(folder_.File("clip.avi"), folder_.File(tooLong));
  const test::CliResult refused = test::RunCli({tooLong}, folder_.Path(), logs_.Path());
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find(folder_.File(tooLong + ".qrx") + ": the name is too long"), std::string::npos) << refused.err;
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"clip.avi", tooLong}));
  EXPECT_EQ(test::ReadAllBytes(folder_.File(tooLong)), source);
  std::filesystem::remove(folder_.File(tooLong));

  const std::string nearLimit = std::string(251, 'm') + ".avi";
  std::filesystem::rename(folder_.File("clip.avi"), folder_.File(nearLimit));
  const test::CliResult converted = test::RunCli({nearLimit}, folder_.Path(), logs_.Path());
  EXPECT_EQ(converted.status, 0) << converted.err;
  const std::string base(251, 'm');
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{base + ".avi", base + ".mp3", base + ".qrx"}));
  EXPECT_EQ(test::ReadAllBytes(folder_.File(nearLimit)), source);
}

}  // namespace
}  // namespace reel
