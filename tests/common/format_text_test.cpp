#include "common/format_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "common/code_page.h"

namespace reel {
namespace {

using namespace std::string_literals;

class FormatTextTest : public ::testing::Test {
 private:
  ScopedCodePage page_{CodePage::Utf8};
};

TEST_F(FormatTextTest, SignRule) {
  EXPECT_EQ(FormatText("%d", -5), "5");
  EXPECT_EQ(FormatText("%d+", -5), "-5");
  EXPECT_EQ(FormatText("%d+3", 7), " +7");
  EXPECT_EQ(FormatText("%d-3", -7), " -7");
  EXPECT_EQ(FormatText("%d-", 7), " 7");
  EXPECT_EQ(FormatText("%d3", 0), "  0");
  EXPECT_EQ(FormatText("%d2", 12345), "45");  // the lowest digits are kept
  EXPECT_EQ(FormatText("%d", std::numeric_limits<int32_t>::min()), "2147483648");
  // Digits that fill the width push the sign in front rather than lose it.
  EXPECT_EQ(FormatText("%d+2", 123), "+23");
  EXPECT_EQ(FormatText("%d-1", -7), "-7");
}

TEST_F(FormatTextTest, ZeroPaddedHexAndOctal) {
  EXPECT_EQ(FormatText("%z3", 5), "005");
  EXPECT_EQ(FormatText("%x4", 255), "00FF");
  EXPECT_EQ(FormatText("%x", 255), "");
  EXPECT_EQ(FormatText("%z", 5), "");
  EXPECT_EQ(FormatText("%o3", 8), "010");
  EXPECT_EQ(FormatText("%x2", 0x1234), "34");
  // Widths beyond 32 bits add leading zeros or padding.
  EXPECT_EQ(FormatText("%x10", 0xFFFFFFFFu), "00FFFFFFFF");
  EXPECT_EQ(FormatText("%o12", 0xFFFFFFFFu), "037777777777");
  EXPECT_EQ(FormatText("%z12", 7), "000000000007");
  EXPECT_EQ(FormatText("%u12", 5), "           5");
  EXPECT_EQ(FormatText("%u+3", 5), "  5");  // the flag is skipped
}

TEST_F(FormatTextTest, FixedPoint) {
  EXPECT_EQ(FormatText("%f3.2", 3.14159), "  3.14");
  EXPECT_EQ(FormatText("%f3.2", 0.5), "  0.50");
  EXPECT_EQ(FormatText("%f3.0", 2.9), "  2.");
  EXPECT_EQ(FormatText("%f+4.1", -2.25), "  -2.2");
  EXPECT_EQ(FormatText("%f3.3", 1.05f), "  1.049");  // the float's exact value, truncated
  EXPECT_EQ(FormatText("%f.1", 7), "7.0");
  // Width 0: the integer digits unpadded, a zero integer part as "0", a sign in front.
  EXPECT_EQ(FormatText("%f.2", 0.25), "0.25");
  EXPECT_EQ(FormatText("%f+.1", -3.5), "-3.5");
  EXPECT_EQ(FormatText("%f", 12.7), "12.");
  EXPECT_EQ(FormatText("%f+2.1", 12.5), "+12.5");
  EXPECT_EQ(FormatText("%f1.1", 12.5), "2.5");  // the lowest digits are kept, as for %d
}

TEST_F(FormatTextTest, FixedPointOutOfRange) {
  EXPECT_EQ(FormatText("%f.1", 4294967301.5), "5.5");  // 2^32 + 5.5
  EXPECT_EQ(FormatText("%f.1", std::nan("")), "0.0");
  EXPECT_EQ(FormatText("%f+.0", -std::numeric_limits<double>::infinity()), "-0.");
  EXPECT_EQ(FormatText("%f+.0", std::numeric_limits<double>::infinity()), "+0.");
  EXPECT_EQ(FormatText("%f1.12", 0.123456789123), "0.123456789000");
  EXPECT_EQ(FormatText("%f1.9", std::nextafter(1.0, 0.0)), "0.999999999");
  EXPECT_EQ(FormatText("%f1.3", 1e300), FormatText("%f1.3", std::fmod(1e300, 4294967296.0)));
}

TEST_F(FormatTextTest, Texts) {
  EXPECT_EQ(FormatText("%s5|", "ab"), "ab   |");
  EXPECT_EQ(FormatText("%s2", "abcd"), "ab");
  EXPECT_EQ(FormatText("%s123", "abcdefghijklmnop"), "abcdefghijkl3");
  EXPECT_EQ(FormatText("%s", std::string(300, 'x')), std::string(300, 'x'));
  EXPECT_EQ(FormatText("%s99", "a"), "a" + std::string(98, ' '));
  EXPECT_EQ(FormatText("%s+3", "ab"), "ab+3");  // no flag for texts
  EXPECT_EQ(FormatText("%s|", static_cast<const char*>(nullptr)), "|");
  EXPECT_EQ(FormatText("%s|%s", std::string_view("a\0b", 3), std::string("c")), "a|c");
  EXPECT_EQ(FormatText("%c%c5", 'A', 0x142), "AB5");  // c: low byte, no width
}

TEST_F(FormatTextTest, ArgumentKindsAndCounts) {
  EXPECT_EQ(FormatText("%u", 0x100000005ULL), "5");  // low 32 bits
  EXPECT_EQ(FormatText("%d+", 0xFFFFFFFFu), "-1");
  EXPECT_EQ(FormatText("%t", -1), "18446744073709551615");  // sign-extended to 64 bits
  EXPECT_EQ(FormatText("%t5", uint64_t{12}), "   12");
  EXPECT_EQ(FormatText("%t", std::numeric_limits<uint64_t>::max()), "18446744073709551615");
  // A missing or wrong-kind argument gives an empty field but is still used up.
  EXPECT_EQ(FormatText("[%d3][%s][%f3.1]", "x", 5, "y"), "[][][]");
  EXPECT_EQ(FormatText("[%d][%s]", 1.5, "b"), "[][b]");
  EXPECT_EQ(FormatText("[%d][%d]", 1), "[1][]");
  EXPECT_EQ(FormatText("%d", 1, 2, 3), "1");
}

TEST_F(FormatTextTest, Syntax) {
  EXPECT_EQ(FormatText("100%%"), "100%");
  EXPECT_EQ(FormatText("ab%"), "ab");
  EXPECT_EQ(FormatText("%ld|%lX4", 5, 255), "5|００ＦＦ");
  EXPECT_EQ(FormatText("[%lq]%d", 3), "[]3");  // l + other letter: nothing, no argument
  EXPECT_EQ(FormatText("ab%l"), "ab");
  EXPECT_EQ(FormatText("[%q%R%C]%d", 3), "[]3");
  EXPECT_EQ(FormatText("%d123", 5), "           53");
  EXPECT_EQ(FormatText("%あx"), "x");  // a whole character is consumed, not one byte
  EXPECT_EQ(FormatText("a\0%d"s, 5), "a");
}

TEST_F(FormatTextTest, ShiftJisLeadByteAfterPercentIsTheLetterAlone) {
  const ScopedCodePage cp932(CodePage::Cp932);
  // The lead byte is an unknown letter; the byte after it stays as text.
  EXPECT_EQ(FormatText("[%\x88\x9f]"), "[\x9f]");
  EXPECT_EQ(FormatText("%\x82\xA0%d", 7), "\xA0" "7");  // takes no argument
  EXPECT_EQ(FormatText("[%l\x88\x9f]"), "[\x9f]");
  EXPECT_EQ(FormatText("[%\x88"), "[");
}

TEST_F(FormatTextTest, ProgressText) {
  EXPECT_EQ(FormatText("変換データ数：%d / %d", 120, 3000), "変換データ数：120 / 3000");
  const ScopedCodePage cp932(CodePage::Cp932);
  const std::string label = "\x95\xCF\x8A\xB7\x83\x66\x81\x5B\x83\x5E\x90\x94\x81\x46";
  EXPECT_EQ(FormatText(label + "%d / %d", 120, 3000), label + "120 / 3000");
}

TEST_F(FormatTextTest, FullWidthNumbers) {
  EXPECT_EQ(FormatText("%D", 12), "１２");
  EXPECT_EQ(FormatText("%D+3", -7), "　＿７");  // the table turns "-" into the low line
  EXPECT_EQ(FormatText("%F1.1|%Z2|%O2|%T|%U", 1.5, 3, 8, 9, 4), "１．５|０３|１０|９|４");
  const ScopedCodePage cp932(CodePage::Cp932);
  EXPECT_EQ(FormatText("%D", 12), "\x82\x50\x82\x51");
}

TEST_F(FormatTextTest, FullWidthTextWidth) {
  EXPECT_EQ(FormatText("%S", "ab"), "ａｂ");
  EXPECT_EQ(FormatText("%S3|", "ｱb"), "アｂ  |");
  EXPECT_EQ(FormatText("%S1|", "\x01" "あ"), "\x01 |");  // never splits a character
  EXPECT_EQ(FormatText("%S1|", "abc"), "ａ|");
  std::string longText(200, 'a');
  EXPECT_EQ(FormatText("%S", longText).size(), 600u);

  const ScopedCodePage cp932(CodePage::Cp932);
  EXPECT_EQ(FormatText("%S3|", "ab"), "\x82\x81\x82\x82  |");
  EXPECT_EQ(FormatText("%S1|", "\x01\x82\xA0"), "\x01\x82|");  // bytes: may cut a character
  EXPECT_EQ(FormatText("%S", longText).size(), 400u);
}

TEST_F(FormatTextTest, DestinationIsWrittenFromItsStart) {
  std::string text = "abcdef";
  FormatText(text, "XY");
  EXPECT_EQ(text, "XY");
  text = "abc";
  FormatText(text, "%r-%d", 5);
  EXPECT_EQ(text, "abc-5");
  text = "abc";
  FormatText(text, "X%r!");
  EXPECT_EQ(text, "Xbc!");
  text = "ab\0cd"s;
  FormatText(text, "%r+");
  EXPECT_EQ(text, "ab+");
  text = "old";
  FormatText(text, "%d,%s", {7, "x"});
  EXPECT_EQ(text, "7,x");
}

}  // namespace
}  // namespace reel
