#include "player/shell/movie_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "common/code_page.h"
#include "common/string_search.h"
#include "player/shell/player_configuration.h"
#include "player/shell/settings_document.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

std::vector<std::string> NamesOf(const MovieList& list) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < list.Size(); ++i) names.push_back(list.At(i));
  return names;
}

TEST(MovieList, ListsMovieFilesOnly) {
  SetCodePage(CodePage::Utf8);
  test::ScratchFolder folder;
  folder.WriteFile("a.qrx", "x");
  folder.WriteFile("B.QRX", "x");
  folder.WriteFile("c.qrx.txt", "x");
  folder.WriteFile("qrx", "x");
  folder.WriteFile("\xE3\x81\x81.qrx", "x");
  folder.WriteFile(std::string(508, 'n') + ".qrx", "x");  // 512 characters: too long
  std::filesystem::create_directory(folder.Slash() + "d.qrx");
  std::vector<std::string> names = NamesOf(BuildMovieList(folder.Slash()));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"B.QRX", "a.qrx", "\xE3\x81\x81.qrx"}));
  EXPECT_TRUE(BuildMovieList(folder.Slash() + "missing/").Empty());
}

TEST(MovieList, MoviesAreListedByNameWhateverTheDirectoryOrder) {
  SetCodePage(CodePage::Cp932);
  test::ScratchFolder folder;
  // Enough names that a directory's hash order is almost never the sorted one.
  const std::vector<std::string> sorted = {"01.qrx", "A.qrx", "a_b.qrx", "B.qrx", "c.QRX", "D.qrx", "e.qrx",
                                           "F.qrx", "g.qrx", "H.qrx", "i.qrx", "J.qrx", "\x83\x41.qrx"};
  for (auto name = sorted.rbegin(); name != sorted.rend(); ++name) folder.WriteFile(*name, "x");
  EXPECT_EQ(NamesOf(BuildMovieList(folder.Slash())), sorted);
  // Names equal but for case still have one order.
  EXPECT_TRUE(LessNoCase("A.qrx", "a.qrx"));
  EXPECT_FALSE(LessNoCase("a.qrx", "A.qrx"));
  EXPECT_FALSE(LessNoCase("a.qrx", "a.qrx"));
  // A second byte in the range of the ASCII letters is not folded: 0x83 0x61 sorts after 0x83 0x41.
  EXPECT_TRUE(LessNoCase("\x83\x41", "\x83\x61"));
}

TEST(MovieList, MovieNamesStepOverMultibyteCharacters) {
  SetCodePage(CodePage::Cp932);
  EXPECT_TRUE(IsMovieFileName("a.qrx"));
  EXPECT_TRUE(IsMovieFileName(".QrX"));
  // 0x81 0x2E is one Shift-JIS character; its "." is no extension.
  EXPECT_FALSE(IsMovieFileName("a\x81.qrx"));
  SetCodePage(CodePage::Utf8);
  EXPECT_TRUE(IsMovieFileName("a\x81.qrx"));
}

TEST(MovieList, FindMovieIgnoresAsciiCase) {
  SetCodePage(CodePage::Cp932);
  const MovieList list = MovieList::FromNames({"A.qrx", "B.qrx", "C.qrx", "b.qrx"});
  EXPECT_EQ(FindMovie(list, "b.qrx"), 1u);
  EXPECT_EQ(FindMovie(list, "C.QRX"), 2u);
  EXPECT_EQ(FindMovie(list, " B.qrx"), std::nullopt);
  EXPECT_EQ(FindMovie(list, "B.qrx2"), std::nullopt);
}

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCodePage(CodePage::Utf8); }
  void TearDown() override { EXPECT_TRUE(SaveSettings()); }
  test::ScratchFolder folder_;
};

TEST_F(ConfigurationTest, DefaultsWithoutSettingsOrMovies) {
  const PlayerConfiguration configuration = LoadPlayerConfiguration(folder_.Slash());
  EXPECT_EQ(configuration.volume, 100);
  EXPECT_FALSE(configuration.wholeFile);
  EXPECT_TRUE(configuration.movies.Empty());
  EXPECT_EQ(configuration.currentName, "tidalop.mov");
}

TEST_F(ConfigurationTest, ChoosesTheConfiguredMovieOrTheFirst) {
  folder_.WriteFile("A.qrx", "x");
  folder_.WriteFile("B.qrx", "x");
  folder_.WriteFile("C.qrx", "x");
  folder_.WriteFile("video.cfg",
                    "[VIDEO_CONFIG]\r\nFILE_NAME=b.qrx\r\n[MUSIC_CONFIG]\r\nMUSIC_VOL=40\r\nMEM_STREAM=1\r\n");
  PlayerConfiguration configuration = LoadPlayerConfiguration(folder_.Slash());
  EXPECT_EQ(configuration.volume, 40);
  EXPECT_TRUE(configuration.wholeFile);
  ASSERT_EQ(configuration.movies.Size(), 3u);
  EXPECT_EQ(configuration.currentName, "B.qrx");
  EXPECT_EQ(configuration.movies.At(configuration.movieIndex), "B.qrx");

  EXPECT_TRUE(SaveSettings());
  folder_.WriteFile("video.cfg", "[VIDEO_CONFIG]\r\nFILE_NAME= B.qrx\r\n");
  configuration = LoadPlayerConfiguration(folder_.Slash());
  EXPECT_EQ(configuration.movieIndex, 0u);
  EXPECT_EQ(configuration.currentName, configuration.movies.At(0));
}

TEST_F(ConfigurationTest, VolumeIsStoredOnSave) {
  StoreVolume(folder_.Slash(), 35);
  EXPECT_TRUE(SaveSettings());
  EXPECT_EQ(folder_.ReadFile("video.cfg"), "[MUSIC_CONFIG]\r\nMUSIC_VOL=35\r\n");
}

}  // namespace
}  // namespace reel
