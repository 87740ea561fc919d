// reelforge-cli as a user runs it: exit statuses, several sources, refusing to overwrite the
// source, and an interrupt that leaves no partial files.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/qrx_movie_checks.h"
#include "tests/support/scratch_folder.h"

extern char** environ;

namespace reel {
namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

class CliProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  }

  // Starts the program in the scratch folder with its output captured; returns its process id.
  pid_t Start(const std::vector<std::string>& arguments) {
    std::vector<std::string> all{REEL_CLI};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, Log("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, Log("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, folder_.Path().c_str());
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, REEL_CLI, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  Result Finish(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, logs_.ReadFile("out"), logs_.ReadFile("err")};
  }

  Result Run(const std::vector<std::string>& arguments) { return Finish(Start(arguments)); }

  std::string Log(const char* which) const { return logs_.File(which); }

  std::string MakeClip(const std::string& name, int frames) {
    const std::string path = folder_.File(name);
    EXPECT_TRUE(test::RunFfmpegTool("-f lavfi -i testsrc=size=640x480:rate=30000/1001 -f lavfi -i sine=frequency=440:duration=" +
                                    std::to_string(frames / 30.0 + 0.1) + " -frames:v " + std::to_string(frames) +
                                    " -c:v mjpeg -c:a pcm_s16le -f avi '" + path + "'"));
    return path;
  }

  test::ScratchFolder folder_;
  test::ScratchFolder logs_;
};

TEST_F(CliProgramTest, HelpAndUsageErrors) {
  Result result = Run({"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("Usage: reelforge-cli [OPTIONS] SOURCE..."), std::string::npos);
  EXPECT_NE(result.out.find("--output-dir"), std::string::npos);
  result = Run({});
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("no source file given"), std::string::npos);
  EXPECT_EQ(Run({"--quality", "42", "x.avi"}).status, 2);
}

TEST_F(CliProgramTest, ConvertsSeveralSourcesIntoTheCurrentFolderAndReportsFailures) {
  MakeClip("one.avi", 30);
  MakeClip("two.avi", 20);
  const Result result = Run({"one.avi", "missing.avi", "two.avi"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("missing.avi: cannot open the file"), std::string::npos) << result.err;
  EXPECT_NE(result.out.find("15 frames at 15 fps (source 30 fps), 320 x 240"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("10 frames at 15 fps"), std::string::npos);
  EXPECT_NE(result.err.find("変換データ数：15 / 15"), std::string::npos);  // plain progress lines
  for (const char* name : {"one.qrx", "one.mp3", "two.qrx", "two.mp3"}) {
    EXPECT_TRUE(std::filesystem::exists(folder_.File(name))) << name;
  }
  EXPECT_TRUE(test::Verified(folder_.File("one.qrx")));
}

TEST_F(CliProgramTest, OutputFolderAndOptionsReachTheJob) {
  MakeClip("clip.avi", 30);
  std::filesystem::create_directory(folder_.File("out"));
  const Result result = Run({"--frame-rate", "max", "--size", "640x480", "--mono", "-o", "out", "clip.avi"});
  ASSERT_EQ(result.status, 0) << result.err;
  const QrxHeader header = test::ReadHeader(folder_.File("out/clip.qrx"));
  EXPECT_EQ(header.frameCount, 30u);
  EXPECT_EQ(header.frameRate, 30u);
  EXPECT_EQ(header.width, 640u);
  EXPECT_EQ(header.height, 480u);
  EXPECT_TRUE(std::filesystem::exists(folder_.File("out/clip.mp3")));
}

// The media-framework options reach the job: forced, the AVI is read through the media
// framework (30 fps measured, so the fixed 24 fps rate is ignored), and the companion is Ogg.
TEST_F(CliProgramTest, MediaFrameworkOptionsTakeEffect) {
  MakeClip("clip.avi", 30);
  Result result = Run({"--force-media-framework", "--original-frame", "24", "--playback-mode", "time", "--encoder",
                       "ogg", "clip.avi"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("14 frames at 15 fps (source 30 fps)"), std::string::npos) << result.out;
  EXPECT_TRUE(std::filesystem::exists(folder_.File("clip.ogg")));
  EXPECT_FALSE(std::filesystem::exists(folder_.File("clip.mp3")));
  const std::string mpeg = folder_.File("clip.mpg");
  ASSERT_TRUE(test::RunFfmpegTool("-i '" + folder_.File("clip.avi") + "' -c:v mpeg1video -c:a mp2 '" + mpeg + "'"));
  result = Run({"--original-frame", "24", "clip.mpg"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("14 frames at 12 fps (source 24 fps)"), std::string::npos) << result.out;
  EXPECT_TRUE(std::filesystem::exists(folder_.File("clip.mp3")));
}

TEST_F(CliProgramTest, RefusesToOverwriteTheSource) {
  const std::string source = MakeClip("movie.qrx", 10);
  const auto before = test::ReadAllBytes(source);
  const Result result = Run({"movie.qrx"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("would replace the source"), std::string::npos) << result.err;
  EXPECT_EQ(test::ReadAllBytes(source), before);
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"movie.qrx"});
}

// A pipe would make the first open wait for a writer forever, a device would give endless bytes:
// sources that are not files are refused before anything reads them, as a folder is.
TEST_F(CliProgramTest, SourcesThatAreNotFilesAreRefusedAtOnce) {
  ASSERT_EQ(::mkfifo(folder_.File("pipe.avi").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(folder_.File("pipe.mj").c_str(), 0644), 0);
  std::filesystem::create_symlink("/dev/zero", folder_.File("device.avi"));
  std::filesystem::create_directory(folder_.File("folder.mj"));
  struct Case {
    const char* name;
    const char* said;
  };
  for (const Case& c : {Case{"pipe.avi", "not a regular file"}, Case{"pipe.mj", "not a regular file"},
                        Case{"device.avi", "not a regular file"}, Case{"folder.mj", "is a folder"}}) {
    SCOPED_TRACE(c.name);
    const Result result = Run({"-o", "out", c.name});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(std::string(c.name) + ": " + c.said), std::string::npos) << result.err;
  }
  EXPECT_FALSE(std::filesystem::exists(folder_.File("out")) && !std::filesystem::is_empty(folder_.File("out")));
}

TEST_F(CliProgramTest, AnInterruptedJobLeavesNoPartialFiles) {
  MakeClip("long.avi", 600);
  const pid_t pid = Start({"long.avi", "long.avi"});
  // Wait until the job is writing its movie, then interrupt it as Ctrl-C would.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (folder_.Names().size() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  kill(pid, SIGINT);
  const Result result = Finish(pid);
  EXPECT_EQ(result.status, 130);  // 128 + SIGINT
  EXPECT_NE(result.err.find("stopped"), std::string::npos) << result.err;
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"long.avi"});
}

}  // namespace
}  // namespace reel
