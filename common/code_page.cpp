#include "common/code_page.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <type_traits>

namespace reel {
namespace {

// 0 until the code page is first set or looked up.
enum class StoredPage : uint8_t { Unset, Cp932, Utf8 };

std::atomic<StoredPage> processCodePage{StoredPage::Unset};

StoredPage ToStored(CodePage page) {
  return page == CodePage::Cp932 ? StoredPage::Cp932 : StoredPage::Utf8;
}

CodePage FromStored(StoredPage stored) {
  return stored == StoredPage::Cp932 ? CodePage::Cp932 : CodePage::Utf8;
}

bool IsContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

uint8_t ByteAt(std::string_view text, std::size_t pos) { return static_cast<uint8_t>(text[pos]); }

// The range the second byte of a UTF-8 sequence must fall in, which rules out overlong forms,
// surrogates and code points above U+10FFFF (the table of well-formed byte sequences in The
// Unicode Standard, chapter 3).
struct Utf8Lead {
  std::size_t length;
  uint8_t secondLow;
  uint8_t secondHigh;
};

Utf8Lead ClassifyUtf8Lead(uint8_t lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {1, 0, 0};
}

std::size_t Utf8Length(std::string_view text, std::size_t pos) {
  const Utf8Lead lead = ClassifyUtf8Lead(ByteAt(text, pos));
  if (lead.length == 1 || text.size() - pos < lead.length) return 1;
  const uint8_t second = ByteAt(text, pos + 1);
  if (second < lead.secondLow || second > lead.secondHigh) return 1;
  for (std::size_t i = 2; i < lead.length; ++i) {
    if (!IsContinuation(ByteAt(text, pos + i))) return 1;
  }
  return lead.length;
}

std::size_t Cp932Length(std::string_view text, std::size_t pos) {
  if (!IsLeadByte(ByteAt(text, pos))) return 1;
  if (pos + 1 >= text.size() || text[pos + 1] == '\0') return 1;
  return 2;
}

std::string NormalisedCodeset(std::string_view codeset) {
  std::string name;
  for (const char c : codeset) {
    if (c == '-' || c == '_') continue;
    name.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return name;
}

using LocaleHandle = std::unique_ptr<std::remove_pointer_t<locale_t>, decltype(&freelocale)>;

}  // namespace

void SetCodePage(CodePage page) { processCodePage.store(ToStored(page)); }

CodePage CurrentCodePage() {
  StoredPage stored = processCodePage.load();
  if (stored != StoredPage::Unset) return FromStored(stored);
  // Two threads may both look the locale up; the first store wins and both agree on it.
  const StoredPage fromLocale = ToStored(CodePageFromLocale());
  if (processCodePage.compare_exchange_strong(stored, fromLocale)) return FromStored(fromLocale);
  return FromStored(stored);
}

CodePage CodePageFromLocale() {
  // A locale object of our own reads the environment's LC_CTYPE without changing the locale of
  // the process (setlocale would, for every thread at once).
  const LocaleHandle locale(newlocale(LC_CTYPE_MASK, "", locale_t{}), &freelocale);
  if (!locale) return CodePage::Utf8;
  const char* codeset = nl_langinfo_l(CODESET, locale.get());
  return codeset == nullptr ? CodePage::Utf8 : CodePageFromCodeset(codeset);
}

CodePage CodePageFromCodeset(std::string_view codeset) {
  static constexpr std::array<std::string_view, 5> kShiftJisNames = {"SHIFTJIS", "SJIS", "CP932",
                                                                     "WINDOWS31J", "MSKANJI"};
  const std::string name = NormalisedCodeset(codeset);
  const bool shiftJis = std::find(kShiftJisNames.begin(), kShiftJisNames.end(), name) !=
                        kShiftJisNames.end();
  return shiftJis ? CodePage::Cp932 : CodePage::Utf8;
}

int IsLeadByte(uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC) ? 1 : 0;
}

std::size_t CharacterLength(std::string_view text, std::size_t pos, CodePage page) {
  if (pos >= text.size()) return 0;
  return page == CodePage::Cp932 ? Cp932Length(text, pos) : Utf8Length(text, pos);
}

std::size_t CharacterLength(std::string_view text, std::size_t pos) {
  return CharacterLength(text, pos, CurrentCodePage());
}

char32_t DecodeUtf8(std::string_view sequence) {
  if (sequence.empty()) return 0;
  const uint8_t lead = static_cast<uint8_t>(sequence[0]);
  if (sequence.size() == 1) return lead;
  const uint8_t leadBits = sequence.size() == 2 ? 0x1F : sequence.size() == 3 ? 0x0F : 0x07;
  char32_t value = lead & leadBits;
  for (std::size_t i = 1; i < sequence.size(); ++i) {
    value = (value << 6) | (static_cast<uint8_t>(sequence[i]) & 0x3Fu);
  }
  return value;
}

std::string_view UpToZero(std::string_view text) {
  const std::size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

}  // namespace reel
