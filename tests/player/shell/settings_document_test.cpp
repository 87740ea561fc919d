#include "player/shell/settings_document.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <string>
#include <vector>

#include "common/code_page.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

std::vector<std::string> LinesOf(const SettingsDocument& document) {
  return {document.Lines().begin(), document.Lines().end()};
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCodePage(CodePage::Cp932); }
  void TearDown() override { EXPECT_TRUE(SaveSettings()); }

  int32_t VolumeFrom(const std::string& text) {
    EXPECT_TRUE(SaveSettings());  // drops the cached document
    folder_.WriteFile("video.cfg", text);
    return ReadSettingInt("MUSIC_CONFIG", "MUSIC_VOL", 100, folder_.Slash() + "video.cfg");
  }

  test::ScratchFolder folder_;
};

TEST(SettingIntegerSyntax, DecimalCountsEveryCharacterAsAPlace) {
  EXPECT_EQ(ParseSettingInt("80"), 80);
  EXPECT_EQ(ParseSettingInt(" 80"), 80);     // a leading space is a place worth 0
  EXPECT_EQ(ParseSettingInt("80 "), 800);    // a trailing one multiplies by 10
  EXPECT_EQ(ParseSettingInt("80  "), 8000);
  EXPECT_EQ(ParseSettingInt("-5"), -5);
  EXPECT_EQ(ParseSettingInt("1-2"), -102);   // a "-" anywhere makes it negative, and takes a place
  EXPECT_EQ(ParseSettingInt("abc"), 0);
  EXPECT_EQ(ParseSettingInt("7a"), 70);
}

TEST(SettingIntegerSyntax, HexadecimalTakesEveryCharacterAsADigit) {
  EXPECT_EQ(ParseSettingInt("0x64"), 100);
  EXPECT_EQ(ParseSettingInt("0xff"), 255);
  EXPECT_EQ(ParseSettingInt("0xFF"), 255);  // upper case counts as its lower-case code
  EXPECT_EQ(ParseSettingInt("0x"), 0);
  EXPECT_EQ(ParseSettingInt("0xg"), 16);    // "g" is worth 103 - 87
  EXPECT_EQ(ParseSettingInt("0x1ffffffff"), -1);  // wraps at 32 bits
}

TEST_F(SettingsTest, IntegerEntriesFromTheFile) {
  EXPECT_EQ(VolumeFrom("[MUSIC_CONFIG]\r\nMUSIC_VOL=80\r\n"), 80);
  EXPECT_EQ(VolumeFrom("[MUSIC_CONFIG]\r\nMUSIC_VOL = 80\r\n"), 80);
  EXPECT_EQ(VolumeFrom("[MUSIC_CONFIG]\r\nMUSIC_VOL=80 \r\n"), 800);
  EXPECT_EQ(VolumeFrom("[MUSIC_CONFIG]\r\nMUSIC_VOL=-5\r\n"), -5);
  EXPECT_EQ(VolumeFrom("[MUSIC_CONFIG]\r\nMUSIC_VOL=0x64"), 100);
  EXPECT_EQ(VolumeFrom("[music_config]\r\nmusic_vol=70\r\n"), 70);
  EXPECT_EQ(VolumeFrom("[ MUSIC_\tCONFIG ]\r\n M U S I C_VOL=60\r\n"), 60);
  EXPECT_EQ(VolumeFrom("[MUSIC_CONFIG]\r\nMUSIC_VOL=\r\n"), 100);  // empty keeps the default
  EXPECT_EQ(VolumeFrom("[MUSIC_CONFIG]\r\nMUSIC_VOL=30\r\nMUSIC_VOL=40\r\n"), 30);
  EXPECT_EQ(VolumeFrom("[VIDEO_CONFIG]\r\nMUSIC_VOL=30\r\n"), 100);  // wrong section
  EXPECT_EQ(VolumeFrom("MUSIC_VOL=30\r\n[MUSIC_CONFIG]\r\n"), 100);   // before any section
  EXPECT_EQ(VolumeFrom("; comment\r\n\r\n[MUSIC_CONFIG]\r\nMUSIC_VOL=25"), 25);
}

TEST_F(SettingsTest, LoneLineFeedsSplitLinesToo) {
  EXPECT_EQ(VolumeFrom("[MUSIC_CONFIG]\nMUSIC_VOL=45\n"), 45);
  EXPECT_EQ(VolumeFrom("[VIDEO_CONFIG]\nFILE_NAME=a\r\n[MUSIC_CONFIG]\nMUSIC_VOL=46"), 46);
}

TEST_F(SettingsTest, MissingFileGivesDefaults) {
  const std::string file = folder_.Slash() + "video.cfg";
  EXPECT_EQ(ReadSettingInt("MUSIC_CONFIG", "MUSIC_VOL", 100, file), 100);
  std::string name;
  EXPECT_EQ(ReadSettingText("VIDEO_CONFIG", "FILE_NAME", "tidalop.mov", name, 1023, file), 11u);
  EXPECT_EQ(name, "tidalop.mov");
}

TEST_F(SettingsTest, TextValuesKeepSpacesAndLoseQuotes) {
  const std::string file = folder_.Slash() + "video.cfg";
  std::string name;
  auto read = [&](const std::string& text) {
    EXPECT_TRUE(SaveSettings());
    folder_.WriteFile("video.cfg", text);
    ReadSettingText("VIDEO_CONFIG", "FILE_NAME", "tidalop.mov", name, 1023, file);
    return name;
  };
  EXPECT_EQ(read("[VIDEO_CONFIG]\r\nFILE_NAME=B.qrx\r\n"), "B.qrx");
  EXPECT_EQ(read("[VIDEO_CONFIG]\r\nFILE_NAME= B.qrx\r\n"), " B.qrx");
  EXPECT_EQ(read("[VIDEO_CONFIG]\r\nFILE_NAME=\"my movie=1.qrx\"\r\n"), "my movie=1.qrx");
  EXPECT_EQ(read("[VIDEO_CONFIG]\r\n\"FILE NAME\"=x\r\nFILE_NAME=y\r\n"), "y");
  EXPECT_EQ(read("[VIDEO_CONFIG]\r\nFILE_NAME=\r\n"), "tidalop.mov");
  EXPECT_EQ(read("[VIDEO_CONFIG]\r\nFILE_NAME=" + std::string(1024, 'a') + "\r\n"), "tidalop.mov");
  EXPECT_EQ(read("[VIDEO_CONFIG]\r\nFILE_NAME=" + std::string(1023, 'a') + "\r\n"), std::string(1023, 'a'));
}

TEST_F(SettingsTest, QuotedSectionNamesMayHoldBracketsAndSpaces) {
  const SettingsDocument document =
      SettingsDocument::FromText("x", "[\"MY ]SECTION\"]\r\n\"A=B\"=7\r\n");
  EXPECT_EQ(document.FindValue("MY ]SECTION", "A=B"), std::optional<std::string_view>("7"));
}

TEST_F(SettingsTest, MultibyteCharactersAreComparedWhole) {
  // 0x83 0x5D is one Shift-JIS character whose second byte is "]".
  const std::string text = "[\x83\x5D]\r\nKEY=1\r\n";
  SetCodePage(CodePage::Cp932);
  EXPECT_EQ(SettingsDocument::FromText("x", text).FindValue("\x83\x5D", "key"), std::optional<std::string_view>("1"));
  // Under UTF-8 the lone 0x83 is a character of its own and the "]" closes the name.
  SetCodePage(CodePage::Utf8);
  EXPECT_EQ(SettingsDocument::FromText("x", text).FindValue("\x83", "key"), std::optional<std::string_view>("1"));
  // A UTF-8 section name matches itself exactly, and ASCII letters fold around it.
  const std::string utf8 = "[\xE5\x8B\x95mix]\r\nKey=2\r\n";
  EXPECT_EQ(SettingsDocument::FromText("x", utf8).FindValue("\xE5\x8B\x95MIX", "KEY"),
            std::optional<std::string_view>("2"));
  EXPECT_EQ(SettingsDocument::FromText("x", utf8).FindValue("\xE5\x8B\x96MIX", "KEY"), std::nullopt);
}

TEST_F(SettingsTest, WritingReplacesTheFirstEntryOnly) {
  SettingsDocument document = SettingsDocument::FromText(
      "x", "[MUSIC_CONFIG]\r\nMUSIC_VOL=30\r\nMUSIC_VOL=40\r\n[OTHER]\r\nMUSIC_VOL=50\r\n");
  document.Write("music_config", "MUSIC_VOL", "80");
  EXPECT_EQ(LinesOf(document), (std::vector<std::string>{"[MUSIC_CONFIG]", "MUSIC_VOL=80", "MUSIC_VOL=40",
                                                         "[OTHER]", "MUSIC_VOL=50"}));
}

TEST_F(SettingsTest, WritingInsertsAfterTheSectionOrAppendsIt) {
  SettingsDocument document = SettingsDocument::FromText("x", "[VIDEO_CONFIG]\r\nFILE_NAME=a.qrx\r\n");
  document.Write("MUSIC_CONFIG", "MUSIC_VOL", "80");
  EXPECT_EQ(LinesOf(document),
            (std::vector<std::string>{"[VIDEO_CONFIG]", "FILE_NAME=a.qrx", "[MUSIC_CONFIG]", "MUSIC_VOL=80"}));
  document.Write("VIDEO_CONFIG", "Other", "1");
  EXPECT_EQ(LinesOf(document), (std::vector<std::string>{"[VIDEO_CONFIG]", "Other=1", "FILE_NAME=a.qrx",
                                                         "[MUSIC_CONFIG]", "MUSIC_VOL=80"}));
  SettingsDocument empty;
  empty.Write("MUSIC_CONFIG", "MUSIC_VOL", "5");
  EXPECT_EQ(empty.Text(), "[MUSIC_CONFIG]\r\nMUSIC_VOL=5\r\n");
}

TEST_F(SettingsTest, SavingWritesCrLfLinesAndKeepsEverythingElse) {
  const std::string file = folder_.Slash() + "video.cfg";
  folder_.WriteFile("video.cfg", "; keep me\n[VIDEO_CONFIG]\nFILE_NAME= \"b.qrx\"\n\n[MUSIC_CONFIG]\r\nMUSIC_VOL=20");
  WriteSetting("MUSIC_CONFIG", "MUSIC_VOL", "55", file);
  EXPECT_TRUE(SaveSettings());
  EXPECT_EQ(folder_.ReadFile("video.cfg"),
            "; keep me\r\n[VIDEO_CONFIG]\r\nFILE_NAME= \"b.qrx\"\r\n\r\n[MUSIC_CONFIG]\r\nMUSIC_VOL=55\r\n");
  EXPECT_EQ(ReadSettingInt("MUSIC_CONFIG", "MUSIC_VOL", 100, file), 55);
}

TEST_F(SettingsTest, MissingFileIsCreatedOnSave) {
  const std::string file = folder_.Slash() + "video.cfg";
  WriteSetting("MUSIC_CONFIG", "MUSIC_VOL", "80", file);
  EXPECT_TRUE(SaveSettings());
  EXPECT_EQ(folder_.ReadFile("video.cfg"), "[MUSIC_CONFIG]\r\nMUSIC_VOL=80\r\n");
}

TEST_F(SettingsTest, AFileThatCannotBeWrittenIsReportedByKindAndName) {
  const std::string file = folder_.Slash() + "gone/video.cfg";
  WriteSetting("MUSIC_CONFIG", "MUSIC_VOL", "80", file);
  const Status saved = SaveSettings();
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.kind(), ErrorKind::kCannotWrite);
  EXPECT_EQ(saved.error().message.rfind(file + ": cannot be created", 0), 0u) << saved.error().message;
  EXPECT_TRUE(SaveSettings());  // the document was dropped all the same
}

// The old file stays whole and no temporary is left when the new one cannot be written: here the
// folder is a file, and then the file size is limited below the new text's length.
TEST_F(SettingsTest, AFailedSaveLeavesTheOldFileWholeAndNoTemporary) {
  folder_.WriteFile("folder", "not a folder");
  WriteSetting("MUSIC_CONFIG", "MUSIC_VOL", "80", folder_.Slash() + "folder/video.cfg");
  const Status intoFile = SaveSettings();
  ASSERT_FALSE(intoFile);
  EXPECT_EQ(intoFile.kind(), ErrorKind::kCannotWrite);

  const std::string old = "[MUSIC_CONFIG]\r\nMUSIC_VOL=20\r\n";
  folder_.WriteFile("video.cfg", old);
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    const rlimit limit{64, 64};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
    const std::string file = folder_.Slash() + "video.cfg";
    WriteSetting("VIDEO_CONFIG", "FILE_NAME", std::string(200, 'x') + ".qrx", file);
    const Status saved = SaveSettings();
    ::_exit(saved ? 0 : saved.kind() == ErrorKind::kCannotWrite ? 1 : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(folder_.ReadFile("video.cfg"), old);
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"folder", "video.cfg"}));
}

TEST_F(SettingsTest, SavingKeepsTheFilesPermissionsAndALinkStaysALink) {
  folder_.WriteFile("real.cfg", "[MUSIC_CONFIG]\r\nMUSIC_VOL=20\r\n");
  ::chmod(folder_.File("real.cfg").c_str(), 0640);
  std::filesystem::create_symlink("real.cfg", folder_.Path() / "video.cfg");
  WriteSetting("MUSIC_CONFIG", "MUSIC_VOL", "55", folder_.Slash() + "video.cfg");
  EXPECT_TRUE(SaveSettings());
  EXPECT_TRUE(std::filesystem::is_symlink(folder_.Path() / "video.cfg"));
  EXPECT_EQ(folder_.ReadFile("real.cfg"), "[MUSIC_CONFIG]\r\nMUSIC_VOL=55\r\n");
  struct stat info {};
  ASSERT_EQ(::stat(folder_.File("real.cfg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"real.cfg", "video.cfg"}));
}

TEST_F(SettingsTest, AnotherFileDropsTheCachedOneUnsaved) {
  const std::string first = folder_.Slash() + "first.cfg";
  const std::string second = folder_.Slash() + "second.cfg";
  WriteSetting("S", "K", "1", first);
  WriteSetting("S", "K", "2", second);
  EXPECT_TRUE(SaveSettings());
  EXPECT_EQ(folder_.ReadFile("first.cfg"), "");
  EXPECT_EQ(folder_.ReadFile("second.cfg"), "[S]\r\nK=2\r\n");
}

TEST_F(SettingsTest, DocumentsLargerThanTheSaveBufferAreWrittenWhole) {
  const std::string file = folder_.Slash() + "video.cfg";
  std::string big = "[BIG]\r\n";
  while (big.size() <= kSettingsSaveBuffer) big += "LINE=" + std::string(100, 'x') + "\r\n";
  folder_.WriteFile("video.cfg", big);
  WriteSetting("MUSIC_CONFIG", "MUSIC_VOL", "9", file);
  EXPECT_TRUE(SaveSettings());
  EXPECT_EQ(folder_.ReadFile("video.cfg"), big + "[MUSIC_CONFIG]\r\nMUSIC_VOL=9\r\n");
}

}  // namespace
}  // namespace reel
