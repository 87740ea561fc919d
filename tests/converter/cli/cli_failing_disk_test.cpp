// Outputs that cannot be written: a file-size limit (with SIGXFSZ ignored, and with its default,
// which the program sets aside itself), a disk that is really full (a small tmpfs, when this runs
// as root), an output folder that is a file, a name too long for the file system. Each ends with an error naming the file, leaves no partial or temporary file, and
// leaves the source as it was.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
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

// A tmpfs filled so that the room left is just under the companion's size, just under the movie's,
// and just under both together (where each alone would fit).
TEST_F(CliFailingDiskTest, AFullDiskFailsTheJobCleanly) {
  const auto source = MakeSource("clip.avi");
  std::filesystem::create_directory(folder_.File("free"));
  ASSERT_EQ(test::RunCli({"-o", "free", "clip.avi"}, folder_.Path(), logs_.Path()).status, 0);
  const auto movieSize = std::filesystem::file_size(folder_.File("free/clip.qrx"));
  const auto soundSize = std::filesystem::file_size(folder_.File("free/clip.mp3"));
  std::filesystem::remove_all(folder_.File("free"));
  const std::string disk = folder_.File("disk");
  std::filesystem::create_directory(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=8m") != 0) {
    GTEST_SKIP() << "a tmpfs cannot be mounted here (" << std::strerror(errno) << "); the full disk is not tried";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};
  for (const uintmax_t room : {soundSize - 1, movieSize - 1, movieSize + soundSize - 1}) {
    SCOPED_TRACE("room for " + std::to_string(room) + " bytes; movie " + std::to_string(movieSize) + ", companion " +
                 std::to_string(soundSize));
    struct statvfs space {};
    ASSERT_EQ(::statvfs(disk.c_str(), &space), 0);
    const uintmax_t available = uintmax_t{space.f_bavail} * space.f_frsize;
    ASSERT_GT(available, room);
    ASSERT_TRUE(test::WriteAllBytes(disk + "/filler", std::vector<uint8_t>(available - room, 0x55)));
    const test::CliResult result = test::RunCli({"-o", "disk", "clip.avi"}, folder_.Path(), logs_.Path());
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.err.find("disk/clip."), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("No space left on device"), std::string::npos) << result.err;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(disk)) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"filler"});
    EXPECT_EQ(test::ReadAllBytes(folder_.File("clip.avi")), source);
    std::filesystem::remove(disk + "/filler");
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
