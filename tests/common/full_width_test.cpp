#include "common/full_width.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <memory>
#include <optional>
#include <string>

namespace reel {
namespace {

using namespace std::string_literals;

std::string Cp932(std::string_view source, std::size_t* count = nullptr) {
  std::string out;
  const std::size_t converted = ToFullWidth(out, source, CodePage::Cp932);
  if (count) *count = converted;
  return out;
}

std::string Utf8(std::string_view source, std::size_t* count = nullptr) {
  std::string out;
  const std::size_t converted = ToFullWidth(out, source, CodePage::Utf8);
  if (count) *count = converted;
  return out;
}

TEST(FullWidth, Cp932SpecialEntries) {
  EXPECT_EQ(Cp932("-"), "\x81\x51");  // hyphen becomes the low line ...
  EXPECT_EQ(Cp932("_"), "\x81\x51");  // ... like the underscore
  EXPECT_EQ(Cp932("\\"), "\x81\x8F");  // yen sign
  EXPECT_EQ(Cp932("~"), "\x81\x50");  // macron
  EXPECT_EQ(Cp932(" "), "\x81\x40");
  EXPECT_EQ(Cp932("Az09"), "\x82\x60\x82\x9A\x82\x4F\x82\x58");
  std::size_t count = 0;
  EXPECT_EQ(Cp932("\xB1", &count), "\x83\x41");  // ア
  EXPECT_EQ(count, 1u);
  // The voicing mark after a kana stays a character of its own: カ and ゛, not ガ.
  EXPECT_EQ(Cp932("\xB6\xDE\xDF", &count), "\x83\x4A\x81\x4A\x81\x4B");
  EXPECT_EQ(count, 3u);
}

TEST(FullWidth, Cp932CopiesWhatItDoesNotConvert) {
  std::size_t count = 0;
  EXPECT_EQ(Cp932("\x82\xA0" "A", &count), "\x82\xA0\x82\x60");  // あ copied, not counted
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Cp932("\x83\x5C", &count), "\x83\x5C");  // a trail byte 0x5C is not a backslash
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Cp932("\t\x7F\x80\xA0\xFD\xFF", &count), "\t\x7F\x80\x81\x40\xFD\xFF");
  EXPECT_EQ(count, 1u);  // only 0xA0, the katakana row's space
  EXPECT_EQ(Cp932("a\x83", &count), "\x82\x81\x83");  // a lone lead byte at the end
  EXPECT_EQ(Cp932("a\0b"s, &count), "\x82\x81");     // the text ends at a zero byte
}

TEST(FullWidth, Utf8ConvertsTheSameCharacters) {
  std::size_t count = 0;
  EXPECT_EQ(Utf8("A-\\~ 1", &count), "Ａ＿￥￣　１");
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(Utf8("ｶﾞｯ", &count), "カ゛ッ");  // U+FF76 U+FF9E U+FF6F
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(Utf8("漢a", &count), "漢ａ");
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Utf8("\xB1\xE3\x81", &count), "\xB1\xE3\x81");  // stray bytes stay as they are
  EXPECT_EQ(count, 0u);
}

TEST(FullWidth, ReplacesTheDestinationEvenWhenItIsTheSource) {
  std::string text = "old content";
  EXPECT_EQ(ToFullWidth(text, "ab", CodePage::Utf8), 2u);
  EXPECT_EQ(text, "ａｂ");
  ToFullWidth(text, text, CodePage::Utf8);
  EXPECT_EQ(text, "ａｂ");
}

// The two stored forms of the table must hold the same characters: every Shift-JIS result,
// decoded by the C library's CP932 converter, equals the UTF-8 result for the same character.
std::optional<std::string> Cp932ToUtf8(const std::string& bytes) {
  const iconv_t handle = iconv_open("UTF-8", "CP932");
  if (handle == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  const std::unique_ptr<void, int (*)(iconv_t)> converter(handle, &iconv_close);
  std::string input = bytes;
  std::string output(bytes.size() * 4, '\0');
  char* in = input.data();
  char* out = output.data();
  std::size_t inLeft = input.size();
  std::size_t outLeft = output.size();
  if (iconv(converter.get(), &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1)) {
    return std::nullopt;
  }
  output.resize(output.size() - outLeft);
  return output;
}

TEST(FullWidth, ShiftJisAndUtf8TablesAgree) {
  for (int byte = 0x20; byte <= 0xDF; ++byte) {
    if (byte >= 0x7F && byte <= 0xA0) continue;
    const std::string single(1, static_cast<char>(byte));
    const std::string shiftJis = Cp932(single);
    const std::optional<std::string> decoded = Cp932ToUtf8(shiftJis);
    if (!decoded) GTEST_SKIP() << "the C library has no CP932 converter";
    // The half-width katakana as UTF-8 input are U+FF61.., which the converter gives for them.
    const std::optional<std::string> source = byte < 0x80 ? single : Cp932ToUtf8(single);
    ASSERT_TRUE(source);
    EXPECT_EQ(*decoded, Utf8(*source)) << std::hex << byte;
  }
}

}  // namespace
}  // namespace reel
