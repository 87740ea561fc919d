#include "converter/engine/output_name.h"

#include <gtest/gtest.h>

#include "common/code_page.h"

namespace reel {
namespace {

class OutputNameTest : public ::testing::Test {
 private:
  ScopedCodePage restore_{CurrentCodePage()};
};

TEST_F(OutputNameTest, FolderThenFileNameWithTheNewExtension) {
  SetCodePage(CodePage::Utf8);
  EXPECT_EQ(MakeOutputName("/out", "/movies/clip.avi", ".qrx"), "/out/clip.qrx");
  EXPECT_EQ(MakeOutputName("/out", "/movies/clip.avi", ".mp3"), "/out/clip.mp3");
  EXPECT_EQ(MakeOutputName("/out/", "/movies/a.b.avi", ".qrx"), "/out/a.b.qrx");
  EXPECT_EQ(MakeOutputName("/", "/movies/clip.mj", ".ogg"), "/clip.ogg");
}

TEST_F(OutputNameTest, UndefinedShapesGetDefinedNames) {
  SetCodePage(CodePage::Utf8);
  EXPECT_EQ(MakeOutputName("/out", "clip.avi", ".qrx"), "/out/clip.qrx");        // no folder in the source
  EXPECT_EQ(MakeOutputName("/out", "/movies/clip", ".qrx"), "/out/clip.qrx");    // no dot: appended
  EXPECT_EQ(MakeOutputName("/my.tools", "/src/clip", ".qrx"), "/my.tools/clip.qrx");  // a dot in the folder
}

TEST_F(OutputNameTest, MultibyteNamesSplitAtTheirRealDot) {
  SetCodePage(CodePage::Utf8);
  EXPECT_EQ(MakeOutputName("/out", "/映像/ぁ.avi", ".qrx"), "/out/ぁ.qrx");
  // Read as Shift-JIS, the second byte of "ぁ" (E3 81 81) leads a character that swallows the dot.
  SetCodePage(CodePage::Cp932);
  EXPECT_EQ(MakeOutputName("/out", "/src/ぁ.avi", ".qrx"), "/out/ぁ.avi.qrx");
  const std::string sjisName = "/src/\x83\x5C.avi";  // a Shift-JIS character with a 0x5C second byte
  EXPECT_EQ(MakeOutputName("/out", sjisName, ".qrx"), "/out/\x83\x5C.qrx");
}

}  // namespace
}  // namespace reel
