// Staged outputs: the real name appears only on Commit, and every failure is a kCannotWrite error
// that names the file and leaves no temporary file behind.
#include "converter/engine/staged_output.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

TEST(StagedOutputTest, TheRealNameAppearsOnlyWhenCommitted) {
  test::ScratchFolder folder;
  std::ofstream(folder.File("clip.qrx")) << "older movie";
  auto staged = StagedOutput::Create(folder.File("clip.qrx"));
  ASSERT_TRUE(staged);
  std::ofstream(staged->TemporaryPath()) << "new movie";
  EXPECT_EQ(folder.Names().size(), 2u);
  ASSERT_TRUE(staged->Commit());
  std::ifstream in(folder.File("clip.qrx"));
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "new movie");
  EXPECT_EQ(folder.Names().size(), 1u);
}

TEST(StagedOutputTest, FailuresAreCannotWriteAndLeaveNothing) {
  test::ScratchFolder folder;
  const auto nowhere = StagedOutput::Create(folder.File("no/such/clip.qrx"));
  ASSERT_FALSE(nowhere);
  EXPECT_EQ(nowhere.kind(), ErrorKind::kCannotWrite);
  EXPECT_EQ(nowhere.error().message.rfind(folder.File("no/such/clip.qrx") + ": cannot create", 0), 0u);

  // A folder of the real name cannot be replaced by the finished file.
  std::filesystem::create_directory(folder.File("taken.qrx"));
  std::ofstream(folder.File("taken.qrx") + "/inside") << "x";
  auto staged = StagedOutput::Create(folder.File("taken.qrx"));
  ASSERT_TRUE(staged);
  const Status committed = staged->Commit();
  ASSERT_FALSE(committed);
  EXPECT_EQ(committed.kind(), ErrorKind::kCannotWrite);
  EXPECT_EQ(folder.Names().size(), 1u);  // only the folder; the temporary file is gone
}

std::string Content(const std::string& path) {
  std::ifstream in(path);
  std::string content;
  std::getline(in, content);
  return content;
}

// A job's outputs appear together at the end; a second output of the same name replaces the
// first; whatever was never kept, or never committed, goes without a trace.
TEST(StagedOutputsTest, CommittedTogetherLaterOnesReplacingEarlierOnes) {
  test::ScratchFolder folder;
  std::ofstream(folder.File("clip.mp3")) << "older sound";
  {
    StagedOutputs outputs;
    auto movie = outputs.Stage(folder.File("clip.qrx"));
    auto first = outputs.Stage(folder.File("clip.mp3"));
    auto second = outputs.Stage(folder.File("clip.mp3"));
    auto unfinished = outputs.Stage(folder.File("clip.ogg"));
    ASSERT_TRUE(movie && first && second && unfinished);
    std::ofstream((*movie)->TemporaryPath()) << "movie";
    std::ofstream((*first)->TemporaryPath()) << "first sound";
    std::ofstream((*second)->TemporaryPath()) << "second sound";
    outputs.Keep(*movie, StagedOutputs::Role::kMovie);
    outputs.Keep(*first, StagedOutputs::Role::kCompanion);
    outputs.Keep(*second, StagedOutputs::Role::kCompanion);
    EXPECT_EQ(Content(folder.File("clip.mp3")), "older sound");  // nothing stored before the end
    EXPECT_EQ(folder.Names().size(), 4u);                         // the first sound's file went
    ASSERT_TRUE(outputs.CommitAll());
  }
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"clip.mp3", "clip.qrx"}));
  EXPECT_EQ(Content(folder.File("clip.qrx")), "movie");
  EXPECT_EQ(Content(folder.File("clip.mp3")), "second sound");

  {
    StagedOutputs abandoned;
    auto movie = abandoned.Stage(folder.File("clip.qrx"));
    ASSERT_TRUE(movie);
    abandoned.Keep(*movie, StagedOutputs::Role::kMovie);
    const Error named = abandoned.InRealNames(MakeError(ErrorKind::kCannotWrite, (*movie)->TemporaryPath(), "write failed"));
    EXPECT_EQ(named.message, folder.File("clip.qrx") + ": write failed");
  }
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"clip.mp3", "clip.qrx"}));
  EXPECT_EQ(Content(folder.File("clip.qrx")), "movie");
}

// A folder in the way of any output is found before anything is renamed.
TEST(StagedOutputsTest, AFolderInTheWayStoresNothing) {
  test::ScratchFolder folder;
  std::filesystem::create_directory(folder.File("clip.qrx"));
  StagedOutputs outputs;
  auto movie = outputs.Stage(folder.File("clip.qrx"));
  auto sound = outputs.Stage(folder.File("clip.mp3"));
  ASSERT_TRUE(movie && sound);
  outputs.Keep(*movie, StagedOutputs::Role::kMovie);
  outputs.Keep(*sound, StagedOutputs::Role::kCompanion);
  const Status committed = outputs.CommitAll();
  ASSERT_FALSE(committed);
  EXPECT_EQ(committed.kind(), ErrorKind::kCannotWrite);
  EXPECT_EQ(committed.error().message.rfind(folder.File("clip.qrx") + ": ", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(folder.File("clip.mp3")));
}

// Names at the file system's limit: the temporary name is shortened, a real name beyond the limit
// is refused before anything is written. Leftovers of a killed process are found by their form.
TEST(StagedOutputTest, LongNamesAndLeftovers) {
  test::ScratchFolder folder;
  const std::string longest = folder.File(std::string(251, 'x') + ".qrx");
  auto staged = StagedOutput::Create(longest);
  ASSERT_TRUE(staged) << staged.error().message;
  EXPECT_EQ(std::filesystem::path(staged->TemporaryPath()).filename().string().size(), 255u);
  ASSERT_TRUE(staged->Commit());
  EXPECT_TRUE(std::filesystem::exists(longest));

  const auto tooLong = StagedOutput::Create(folder.File(std::string(256, 'y')));
  ASSERT_FALSE(tooLong);
  EXPECT_EQ(tooLong.kind(), ErrorKind::kCannotWrite);
  EXPECT_NE(tooLong.error().message.find("the name is too long"), std::string::npos);

  auto left = StagedOutput::Create(folder.File("clip.qrx"));
  auto longLeft = StagedOutput::Create(longest);
  ASSERT_TRUE(left && longLeft);
  std::ofstream(folder.File(".clip.qrx.part-keep")) << "not one of ours: too short";
  std::ofstream(folder.File(".clip.mp3.part-abcdef")) << "another output's";
  RemoveStagedLeftovers(folder.File("clip.qrx"));
  RemoveStagedLeftovers(longest);
  EXPECT_FALSE(std::filesystem::exists(left->TemporaryPath()));
  EXPECT_FALSE(std::filesystem::exists(longLeft->TemporaryPath()));
  EXPECT_EQ(folder.Names().size(), 3u);
}

}  // namespace
}  // namespace reel
