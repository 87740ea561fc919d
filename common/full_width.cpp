#include "common/full_width.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

namespace reel {
namespace {

// The table's ten rows: six for ASCII 0x20-0x7F, four for the half-width katakana 0xA0-0xDF.
// Entry (byte - 0x20) serves ASCII, entry 96 + (byte - 0xA0) the katakana. 0x7F and 0xA0 have
// entries (full-width spaces) that the conversion never uses.
constexpr std::size_t kRowCount = 10;
constexpr std::size_t kRowLength = 16;
constexpr std::size_t kKatakanaEntry = 96;

// Each entry as a Shift-JIS character, lead byte in the high half.
constexpr std::array<uint16_t, kRowCount * kRowLength> kShiftJisEntries = {
    0x8140, 0x8149, 0x8168, 0x8194, 0x8190, 0x8193, 0x8195, 0x8166,  // 0x20
    0x8169, 0x816A, 0x8196, 0x817B, 0x8143, 0x8151, 0x8144, 0x815E,
    0x824F, 0x8250, 0x8251, 0x8252, 0x8253, 0x8254, 0x8255, 0x8256,  // 0x30
    0x8257, 0x8258, 0x8146, 0x8147, 0x8183, 0x8181, 0x8184, 0x8148,
    0x8197, 0x8260, 0x8261, 0x8262, 0x8263, 0x8264, 0x8265, 0x8266,  // 0x40
    0x8267, 0x8268, 0x8269, 0x826A, 0x826B, 0x826C, 0x826D, 0x826E,
    0x826F, 0x8270, 0x8271, 0x8272, 0x8273, 0x8274, 0x8275, 0x8276,  // 0x50
    0x8277, 0x8278, 0x8279, 0x816D, 0x818F, 0x816E, 0x814F, 0x8151,
    0x814D, 0x8281, 0x8282, 0x8283, 0x8284, 0x8285, 0x8286, 0x8287,  // 0x60
    0x8288, 0x8289, 0x828A, 0x828B, 0x828C, 0x828D, 0x828E, 0x828F,
    0x8290, 0x8291, 0x8292, 0x8293, 0x8294, 0x8295, 0x8296, 0x8297,  // 0x70
    0x8298, 0x8299, 0x829A, 0x816F, 0x8162, 0x8170, 0x8150, 0x8140,
    0x8140, 0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340,  // 0xA0
    0x8342, 0x8344, 0x8346, 0x8348, 0x8383, 0x8385, 0x8387, 0x8362,
    0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C,  // 0xB0
    0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C,
    0x835E, 0x8360, 0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B,  // 0xC0
    0x836C, 0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D,
    0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,  // 0xD0
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,
};

// The same rows as UTF-8; every entry takes three bytes.
constexpr std::size_t kUtf8EntryLength = 3;
constexpr std::array<std::string_view, kRowCount> kUtf8Rows = {
    "　！”＃＄％＆’（）＊＋，＿．／", "０１２３４５６７８９：；＜＝＞？",
    "＠ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯ", "ＰＱＲＳＴＵＶＷＸＹＺ［￥］＾＿",
    "｀ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏ", "ｐｑｒｓｔｕｖｗｘｙｚ｛｜｝￣　",
    "　。「」、・ヲァィゥェォャュョッ", "ーアイウエオカキクケコサシスセソ",
    "タチツテトナニヌネノハヒフヘホマ", "ミムメモヤユヨラリルレロワン゛゜",
};

constexpr bool Utf8RowsAreUniform() {
  for (const std::string_view row : kUtf8Rows) {
    if (row.size() != kRowLength * kUtf8EntryLength) return false;
  }
  return true;
}
static_assert(Utf8RowsAreUniform(), "every full-width entry must be three UTF-8 bytes");

// U+FF61..U+FF9F are the half-width katakana 0xA1..0xDF of Shift-JIS, in the same order.
constexpr char32_t kFirstHalfWidthKatakana = 0xFF61;
constexpr char32_t kLastHalfWidthKatakana = 0xFF9F;
constexpr uint8_t kFirstKatakanaByte = 0xA1;

bool IsHalfWidthKatakana(char32_t codePoint) {
  return codePoint >= kFirstHalfWidthKatakana && codePoint <= kLastHalfWidthKatakana;
}

// The table entry for a byte, or none when the byte is not converted.
std::optional<std::size_t> EntryFor(uint8_t byte) {
  if (byte >= 0x20 && byte <= 0x7E) return byte - 0x20u;
  if (byte >= 0xA0 && byte <= 0xDF) return kKatakanaEntry + (byte - 0xA0u);
  return std::nullopt;
}

void AppendShiftJisEntry(std::string& out, std::size_t entry) {
  out.push_back(static_cast<char>(kShiftJisEntries[entry] >> 8));
  out.push_back(static_cast<char>(kShiftJisEntries[entry] & 0xFF));
}

void AppendUtf8Entry(std::string& out, std::size_t entry) {
  out.append(kUtf8Rows[entry / kRowLength].substr((entry % kRowLength) * kUtf8EntryLength,
                                                  kUtf8EntryLength));
}

std::size_t Cp932ToFullWidth(std::string& out, std::string_view source) {
  std::size_t converted = 0;
  for (std::size_t pos = 0; pos < source.size();) {
    const std::size_t length = CharacterLength(source, pos, CodePage::Cp932);
    const std::optional<std::size_t> entry = EntryFor(static_cast<uint8_t>(source[pos]));
    if (length == 1 && entry) {
      AppendShiftJisEntry(out, *entry);
      ++converted;
    } else {
      out.append(source.substr(pos, length));
    }
    pos += length;
  }
  return converted;
}

// Under UTF-8 a single byte is converted only when it is ASCII: a byte 0x80-0xFF standing alone
// is not a character, and is copied as it is.
std::optional<std::size_t> Utf8EntryFor(std::string_view character) {
  if (character.size() == 1) {
    const uint8_t byte = static_cast<uint8_t>(character[0]);
    return byte < 0x80 ? EntryFor(byte) : std::nullopt;
  }
  const char32_t codePoint = DecodeUtf8(character);
  if (!IsHalfWidthKatakana(codePoint)) return std::nullopt;
  return EntryFor(static_cast<uint8_t>(kFirstKatakanaByte + (codePoint - kFirstHalfWidthKatakana)));
}

std::size_t Utf8ToFullWidth(std::string& out, std::string_view source) {
  std::size_t converted = 0;
  for (std::size_t pos = 0; pos < source.size();) {
    const std::size_t length = CharacterLength(source, pos, CodePage::Utf8);
    const std::string_view character = source.substr(pos, length);
    if (const std::optional<std::size_t> entry = Utf8EntryFor(character)) {
      AppendUtf8Entry(out, *entry);
      ++converted;
    } else {
      out.append(character);
    }
    pos += length;
  }
  return converted;
}

}  // namespace

std::size_t ToFullWidth(std::string& destination, std::string_view source, CodePage page) {
  source = UpToZero(source);
  std::string converted;
  converted.reserve(source.size() * 3);
  const std::size_t count = page == CodePage::Cp932 ? Cp932ToFullWidth(converted, source)
                                                    : Utf8ToFullWidth(converted, source);
  destination = std::move(converted);
  return count;
}

std::size_t ToFullWidth(std::string& destination, std::string_view source) {
  return ToFullWidth(destination, source, CurrentCodePage());
}

std::size_t Utf8CharacterColumns(std::string_view character) {
  if (character.size() <= 1) return 1;
  return IsHalfWidthKatakana(DecodeUtf8(character)) ? 1 : 2;
}

std::size_t Utf8TextColumns(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = std::max<std::size_t>(1, CharacterLength(text, pos, CodePage::Utf8));
    columns += Utf8CharacterColumns(text.substr(pos, length));
    pos += length;
  }
  return columns;
}

}  // namespace reel
