// The process code page: how the byte-oriented text routines tell where a character ends.
//
// Every text routine in this system works on bytes. A character may take more than one byte, and
// a routine that looks for "/" or "." or folds case must step over such a character as one unit,
// or it would mistake a byte inside it for a separator. Which bytes form one character depends on
// the code page the process runs in: CP932 (Shift-JIS), where a lead byte takes the byte after it
// whatever that byte is, or UTF-8, where a well-formed sequence is one character. The setting is
// process-wide; it defaults, on first use, to the code page named by the user's locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace reel {

enum class CodePage { Cp932, Utf8 };

// Sets the code page for the whole process. Safe to call from any thread.
void SetCodePage(CodePage page);

// The process code page; on first use it is CodePageFromLocale().
CodePage CurrentCodePage();

// Sets a code page for the life of the object and restores the previous one after (tools and
// tests that run a piece of work under one code page).
class ScopedCodePage {
 public:
  explicit ScopedCodePage(CodePage page) : saved_(CurrentCodePage()) { SetCodePage(page); }
  ~ScopedCodePage() { SetCodePage(saved_); }
  ScopedCodePage(const ScopedCodePage&) = delete;
  ScopedCodePage& operator=(const ScopedCodePage&) = delete;

 private:
  CodePage saved_;
};

// Cp932 when the locale's character set (LC_CTYPE from the environment) is Shift-JIS, else Utf8.
CodePage CodePageFromLocale();

// Cp932 for the names a C library gives Shift-JIS ("SHIFT_JIS", "SJIS", "CP932", "WINDOWS-31J",
// in any case, with or without "-" and "_"); Utf8 for everything else.
CodePage CodePageFromCodeset(std::string_view codeset);

// 1 when the byte starts a Shift-JIS double-byte character (0x81-0x9F or 0xE0-0xFC), else 0.
// Independent of the process code page.
int IsLeadByte(uint8_t byte);

// The number of bytes of the character starting at `pos`; 0 when pos is at or past the end.
//   Cp932: 2 for a lead byte followed by a byte that exists and is not 0, else 1.
//   Utf8:  the length of a well-formed UTF-8 sequence starting there (every continuation byte
//          present and valid, no overlong form, no surrogate, nothing above U+10FFFF), else 1.
std::size_t CharacterLength(std::string_view text, std::size_t pos, CodePage page);
std::size_t CharacterLength(std::string_view text, std::size_t pos);

// The code point of a well-formed UTF-8 sequence (one that CharacterLength accepted under Utf8).
char32_t DecodeUtf8(std::string_view sequence);

// The text up to its first zero byte: the byte routines treat a zero byte as the end of a text.
std::string_view UpToZero(std::string_view text);

}  // namespace reel
