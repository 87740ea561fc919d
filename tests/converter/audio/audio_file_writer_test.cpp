#include "converter/audio/audio_file_writer.h"

#include <gtest/gtest.h>

#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

TEST(WriteWholeFile, CreatesAnewAndReplacesAnEarlierFile) {
  const test::ScratchFolder folder;
  const std::string path = (folder.Path() / "movie.mp3").string();
  const std::vector<uint8_t> longer(5000, 0xAA);
  EXPECT_EQ(WriteWholeFile(path, longer, kWriteFromStart, 0, true), 5000u);
  const std::vector<uint8_t> shorter = {1, 2, 3};
  EXPECT_EQ(WriteWholeFile(path, shorter, kWriteFromStart, 0, true), 3u);
  EXPECT_EQ(test::ReadAllBytes(path), shorter);
  EXPECT_EQ(WriteWholeFile(path, {}, kWriteFromStart, 0, true), 0u);
  EXPECT_TRUE(test::ReadAllBytes(path).empty());
}

TEST(WriteWholeFile, OpensExistingFilesAtTheAskedPosition) {
  const test::ScratchFolder folder;
  const std::string path = (folder.Path() / "a.bin").string();
  WriteWholeFile(path, std::vector<uint8_t>{1, 2, 3, 4}, kWriteFromStart, 0, true);
  WriteWholeFile(path, std::vector<uint8_t>{9}, kWriteFromStart, 1, false);
  WriteWholeFile(path, std::vector<uint8_t>{7, 7}, kWriteFromEnd, 0, false);
  WriteWholeFile(path, std::vector<uint8_t>{5}, kWriteFromEnd, -1, false);
  EXPECT_EQ(test::ReadAllBytes(path), (std::vector<uint8_t>{1, 9, 3, 4, 7, 5}));
  WriteWholeFile(path, std::vector<uint8_t>{8}, 7, 3, false);  // an unknown origin writes at the start
  WriteWholeFile(path, std::vector<uint8_t>{6}, kWriteFromStart, -10, false);  // so does a bad position
  EXPECT_EQ(test::ReadAllBytes(path), (std::vector<uint8_t>{6, 9, 3, 4, 7, 5}));
  const std::string fresh = (folder.Path() / "fresh.bin").string();
  EXPECT_EQ(WriteWholeFile(fresh, std::vector<uint8_t>{4}, kWriteFromStart, 0, false), 1u);
}

TEST(WriteWholeFile, ReportsZeroWhenTheFileCannotBeOpened) {
  const test::ScratchFolder folder;
  const std::vector<uint8_t> data = {1};
  EXPECT_EQ(WriteWholeFile((folder.Path() / "no" / "such" / "dir.mp3").string(), data, 0, 0, true), 0u);
  EXPECT_EQ(WriteWholeFile(folder.Path().string(), data, 0, 0, true), 0u);  // a folder
  EXPECT_EQ(WriteWholeFile("", data, 0, 0, true), 0u);
}

}  // namespace
}  // namespace reel
