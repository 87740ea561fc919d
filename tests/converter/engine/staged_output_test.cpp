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

}  // namespace
}  // namespace reel
