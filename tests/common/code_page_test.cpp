#include "common/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace reel {
namespace {

using namespace std::string_literals;

TEST(CodePage, LeadBytesAreExactlyTheShiftJisRanges) {
  EXPECT_EQ(IsLeadByte(0x80), 0);
  EXPECT_EQ(IsLeadByte(0x81), 1);
  EXPECT_EQ(IsLeadByte(0x9F), 1);
  EXPECT_EQ(IsLeadByte(0xA0), 0);  // half-width katakana are single bytes
  EXPECT_EQ(IsLeadByte(0xDF), 0);
  EXPECT_EQ(IsLeadByte(0xE0), 1);
  EXPECT_EQ(IsLeadByte(0xFC), 1);
  EXPECT_EQ(IsLeadByte(0xFD), 0);
}

TEST(CodePage, Cp932CharacterTakesTheNextByteUnlessItIsMissingOrZero) {
  const CodePage cp932 = CodePage::Cp932;
  EXPECT_EQ(CharacterLength("\x83\x5C", 0, cp932), 2u);
  EXPECT_EQ(CharacterLength("\x81.", 0, cp932), 2u);  // any byte after a lead byte belongs to it
  EXPECT_EQ(CharacterLength("a\x83", 1, cp932), 1u);  // lead byte at the very end
  EXPECT_EQ(CharacterLength("\x83\0x"s, 0, cp932), 1u);
  EXPECT_EQ(CharacterLength("\xB1", 0, cp932), 1u);
  EXPECT_EQ(CharacterLength("ab", 2, cp932), 0u);
  EXPECT_EQ(CharacterLength("ab", 7, cp932), 0u);
}

TEST(CodePage, Utf8CharacterIsAWellFormedSequenceOnly) {
  const CodePage utf8 = CodePage::Utf8;
  EXPECT_EQ(CharacterLength("\xC2\xA9", 0, utf8), 2u);
  EXPECT_EQ(CharacterLength("ぁ.avi", 0, utf8), 3u);
  EXPECT_EQ(CharacterLength("ぁ.avi", 3, utf8), 1u);
  EXPECT_EQ(CharacterLength("\xF0\x9F\x8E\xA5", 0, utf8), 4u);
  EXPECT_EQ(CharacterLength("\xE3\x81", 0, utf8), 1u);          // cut short
  EXPECT_EQ(CharacterLength("\xE3\x81.", 0, utf8), 1u);         // bad continuation
  EXPECT_EQ(CharacterLength("\xC0\xAE", 0, utf8), 1u);          // overlong "."
  EXPECT_EQ(CharacterLength("\xE0\x80\xAE", 0, utf8), 1u);      // overlong "."
  EXPECT_EQ(CharacterLength("\xED\xA0\x80", 0, utf8), 1u);      // surrogate
  EXPECT_EQ(CharacterLength("\xF4\x90\x80\x80", 0, utf8), 1u);  // above U+10FFFF
  EXPECT_EQ(CharacterLength("\x81", 0, utf8), 1u);              // stray continuation
}

TEST(CodePage, LocaleCodesetNamesShiftJis) {
  for (const char* name : {"SHIFT_JIS", "Shift-JIS", "sjis", "CP932", "WINDOWS-31J"}) {
    EXPECT_EQ(CodePageFromCodeset(name), CodePage::Cp932) << name;
  }
  for (const char* name : {"UTF-8", "ANSI_X3.4-1968", "EUC-JP", "", "SJISX"}) {
    EXPECT_EQ(CodePageFromCodeset(name), CodePage::Utf8) << name;
  }
}

TEST(CodePage, SettingIsProcessWideAndDrivesTheDefaultLength) {
  const CodePage saved = CurrentCodePage();
  SetCodePage(CodePage::Cp932);
  EXPECT_EQ(CurrentCodePage(), CodePage::Cp932);
  EXPECT_EQ(CharacterLength("\x81\x81", 0), 2u);
  SetCodePage(CodePage::Utf8);
  EXPECT_EQ(CurrentCodePage(), CodePage::Utf8);
  EXPECT_EQ(CharacterLength("\x81\x81", 0), 1u);
  SetCodePage(saved);
}

}  // namespace
}  // namespace reel
