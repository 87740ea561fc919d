// Which reader a source needs, told by the name's last "." under each code page.
#include <gtest/gtest.h>

#include "common/code_page.h"
#include "converter/front/source_kind.h"

namespace reel {
namespace {

TEST(SourceKindTest, MotionJpegOnlyForTheWholeExtensionInAnyCase) {
  for (const CodePage page : {CodePage::Utf8, CodePage::Cp932}) {
    const ScopedCodePage scoped(page);
    EXPECT_EQ(SourceKindOf("/clips/run.mj"), kSourceMotionJpeg);
    EXPECT_EQ(SourceKindOf("/clips/RUN.MJ"), kSourceMotionJpeg);
    EXPECT_EQ(SourceKindOf("/clips/run.Mj"), kSourceMotionJpeg);
    EXPECT_EQ(SourceKindOf("/clips/run.mjx"), kSourceVideoFile);
    EXPECT_EQ(SourceKindOf("/clips/run.avi"), kSourceVideoFile);
    EXPECT_EQ(SourceKindOf("/clips/run"), kSourceVideoFile);
    EXPECT_EQ(SourceKindOf("/clips.mj/run"), kSourceVideoFile);
    EXPECT_EQ(SourceKindOf(""), kSourceVideoFile);
  }
}

TEST(SourceKindTest, TheDotIsLookedForCharacterByCharacter) {
  // "ぁ.mj" in UTF-8 is E3 81 81 2E 6D 6A. As UTF-8 the "." stands alone; read as Shift-JIS the
  // 0x81 before it is a lead byte that takes the "." into its character, so there is no extension.
  const std::string name = "/clips/\xE3\x81\x81.mj";
  {
    const ScopedCodePage utf8(CodePage::Utf8);
    EXPECT_EQ(SourceKindOf(name), kSourceMotionJpeg);
  }
  {
    const ScopedCodePage cp932(CodePage::Cp932);
    EXPECT_EQ(SourceKindOf(name), kSourceVideoFile);
  }
}

}  // namespace
}  // namespace reel
