#include "common/string_search.h"

#include <gtest/gtest.h>

#include <string>

#include "common/code_page.h"

namespace reel {
namespace {

using namespace std::string_literals;

TEST(FindLastChar, Cp932TrailBytesAreNeverSeparators) {
  const ScopedCodePage page(CodePage::Cp932);
  // "ソ" is 0x83 0x5C: its second byte is a backslash.
  EXPECT_EQ(FindLastChar("E:\\\x83\x5C\\clip.avi", '\\'), 5u);
  EXPECT_EQ(FindLastChar("\x83\x5C", '\\'), std::nullopt);
  EXPECT_EQ(FindLastChar("\x81\x2E\x81\x2E", '.'), std::nullopt);
  EXPECT_EQ(FindLastChar("a.b\x81\x2E", '.'), 1u);
  EXPECT_EQ(FindLastChar("ab.\x83", '.'), 2u);  // a lead byte at the end stands alone
}

TEST(FindLastChar, Utf8NameSplitsAtItsRealFullStop) {
  const std::string name = "ぁ.avi";  // E3 81 81 2E ...
  {
    const ScopedCodePage page(CodePage::Utf8);
    EXPECT_EQ(FindLastChar(name, '.'), 3u);
  }
  {
    // Read as Shift-JIS, E3 81 and 81 2E are two characters: the "." is inside one.
    const ScopedCodePage page(CodePage::Cp932);
    EXPECT_EQ(FindLastChar(name, '.'), std::nullopt);
  }
}

TEST(FindLastChar, PlainTextsAndTheZeroByteEnd) {
  const ScopedCodePage page(CodePage::Utf8);
  EXPECT_EQ(FindLastChar("a/b/c", '/'), 3u);
  EXPECT_EQ(FindLastChar("abc", '/'), std::nullopt);
  EXPECT_EQ(FindLastChar("", '/'), std::nullopt);
  EXPECT_EQ(FindLastChar("a.b\0.c"s, '.'), 1u);
  EXPECT_EQ(FindLastChar("a.b\xE3.c", '.'), 4u);  // a stray byte is compared on its own
}

TEST(EqualNoCase, FoldsAsciiLettersOnly) {
  const ScopedCodePage page(CodePage::Utf8);
  EXPECT_TRUE(EqualNoCase("Video.CFG", "video.cfg"));
  EXPECT_TRUE(EqualNoCase("", ""));
  EXPECT_FALSE(EqualNoCase("", "a"));
  EXPECT_FALSE(EqualNoCase("abc", "abcd"));
  EXPECT_FALSE(EqualNoCase("abcd", "abc"));
  EXPECT_FALSE(EqualNoCase("[", "{"));  // 0x5B and 0x7B differ by the case bit but are no letters
  EXPECT_FALSE(EqualNoCase("@", "`"));
  EXPECT_FALSE(EqualNoCase("Ａ", "ａ"));  // full-width letters are not folded
  EXPECT_TRUE(EqualNoCase("mj\0X"s, "MJ\0Y"s));
}

TEST(EqualNoCase, MultibyteCharactersMatchExactly) {
  {
    const ScopedCodePage page(CodePage::Cp932);
    // 0x83 0x41 and 0x83 0x61 are different characters, though their trail bytes are "A" and "a".
    EXPECT_FALSE(EqualNoCase("\x83\x41x", "\x83\x61X"));
    EXPECT_TRUE(EqualNoCase("\x83\x41x", "\x83\x41X"));
    EXPECT_FALSE(EqualNoCase("\x83\x41", "\x83"));
    EXPECT_FALSE(EqualNoCase("\x83", "\x83\x41"));
  }
  {
    const ScopedCodePage page(CodePage::Utf8);
    EXPECT_TRUE(EqualNoCase("\x83\x41x", "\x83\x61X"));  // stray bytes, not one character
    EXPECT_TRUE(EqualNoCase("動画.QRX", "動画.qrx"));
    EXPECT_FALSE(EqualNoCase("動画", "動"));
  }
}

}  // namespace
}  // namespace reel
