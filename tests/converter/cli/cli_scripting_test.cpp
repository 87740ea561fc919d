// reelforge-cli as scripts drive it: --progress=json lines read back by a JSON reader (a Japanese
// name and one that is not UTF-8 among the sources), files beside their sources, and a rerun with
// --no-overwrite that converts only what is missing, with one job at a time and with several.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli_process.h"
#include "tests/support/external_tools.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

namespace fs = std::filesystem;

// Every line of `out` as JSON; a line that is not fails the test.
std::vector<nlohmann::json> JsonLines(const std::string& out) {
  std::vector<nlohmann::json> lines;
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(nlohmann::json::parse(line, nullptr, false));
    EXPECT_FALSE(lines.back().is_discarded()) << line;
  }
  return lines;
}

// The "result" objects by source.
std::map<std::string, nlohmann::json> Results(const std::vector<nlohmann::json>& lines) {
  std::map<std::string, nlohmann::json> results;
  for (const auto& line : lines) {
    if (line.value("type", "") == "result") results[line["source"].get<std::string>()] = line;
  }
  return results;
}

class CliScriptingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    fs::create_directory(folder_.File("in"));
    for (const std::string& name : kNames) ASSERT_TRUE(test::MakeClip(folder_.File("in/" + name + ".avi"), 12));
  }

  test::CliResult Run(std::vector<std::string> arguments) {
    for (const std::string& name : kNames) arguments.push_back("in/" + name + ".avi");
    return test::RunCli(arguments, folder_.Path(), logs_.Path());
  }

  const std::vector<std::string> kNames{"\xe5\x8b\x95\xe7\x94\xbb", "bad\xff", "plain"};  // 動画
  test::ScratchFolder folder_;
  test::ScratchFolder logs_;
};

TEST_F(CliScriptingTest, JsonProgressBesideTheSourcesAndRerunsThatSkip) {
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("jobs ") + jobs);
    for (const std::string& name : kNames) fs::remove(folder_.File("in/" + name + ".qrx"));
    const test::CliResult first = Run({"-j", jobs, "--progress=json", "--output-beside-source"});
    ASSERT_EQ(first.status, 0) << first.err;
    const auto lines = JsonLines(first.out);
    auto results = Results(lines);
    ASSERT_EQ(results.size(), 3u) << first.out;
    // The name that is not UTF-8 is written with U+FFFD in place of its bad byte.
    ASSERT_TRUE(results.contains("in/bad\xef\xbf\xbd.avi")) << first.out;
    for (const auto& [source, result] : results) {
      EXPECT_EQ(result["result"], "succeeded") << source;
      ASSERT_EQ(result["files"].size(), 2u) << source;
      EXPECT_EQ(result["frames"], 6);
      EXPECT_TRUE(result["warnings"].is_array());
    }
    const auto& movie = results["in/plain.avi"]["files"][0];
    EXPECT_EQ(movie["path"], "in/plain.qrx");
    EXPECT_EQ(movie["bytes"].get<uint64_t>(), fs::file_size(folder_.File("in/plain.qrx")));
    EXPECT_EQ(results["in/plain.avi"]["files"][1]["path"], "in/plain.mp3");
    EXPECT_TRUE(fs::exists(folder_.File("in/\xe5\x8b\x95\xe7\x94\xbb.mp3")));
    EXPECT_TRUE(fs::exists(folder_.File("in/bad\xff.qrx")));
    const auto progress = std::find_if(lines.begin(), lines.end(), [](const auto& l) { return l["type"] == "progress"; });
    ASSERT_NE(progress, lines.end()) << first.out;
    for (const char* key : {"source", "framesDone", "framesTotal", "fps", "secondsLeft"}) {
      EXPECT_TRUE(progress->contains(key)) << key;
    }

    // One movie missing: only its source is converted again.
    const auto before = fs::last_write_time(folder_.File("in/plain.qrx"));
    fs::remove(folder_.File("in/bad\xff.qrx"));
    const test::CliResult rerun = Run({"-j", jobs, "-n", "--output-beside-source"});
    ASSERT_EQ(rerun.status, 0) << rerun.err;
    EXPECT_NE(rerun.out.find("in/plain.avi: skipped, in/plain.qrx exists\n"), std::string::npos) << rerun.out;
    EXPECT_NE(rerun.out.find("in/bad\xff.avi: done"), std::string::npos) << rerun.out;
    EXPECT_EQ(fs::last_write_time(folder_.File("in/plain.qrx")), before);
    EXPECT_TRUE(fs::exists(folder_.File("in/bad\xff.qrx")));
  }
  // Skipped sources in JSON, and nothing in the output folder the sources were kept out of.
  const auto skipped = Results(JsonLines(Run({"-n", "--progress", "json", "--output-beside-source"}).out));
  ASSERT_EQ(skipped.size(), 3u);
  EXPECT_EQ(skipped.at("in/plain.avi")["result"], "skipped");
  EXPECT_FALSE(fs::exists(folder_.File("plain.qrx")));
}

}  // namespace
}  // namespace reel
