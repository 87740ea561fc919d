// Half-width to full-width conversion of text for Japanese screens.
//
// Printable ASCII (0x20-0x7E) and the half-width katakana become their full-width forms from one
// fixed table of ten rows of sixteen characters; everything else is copied. The table is not a
// Unicode width mapping: the hyphen becomes the full-width low line (like "_"), the backslash the
// full-width yen sign, "~" the full-width macron, and the two voicing marks stay characters of
// their own instead of merging with the kana before them.
//
// Under CP932 the half-width katakana are the single bytes 0xA1-0xDF and the output is Shift-JIS;
// under UTF-8 they are U+FF61-U+FF9F and the output is UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/code_page.h"

namespace reel {

// Replaces the content of `destination` with `source` (up to its first zero byte) converted to
// full width, and returns how many characters were converted. Characters that are already
// multibyte are copied unchanged and not counted, and so are bytes outside the table.
std::size_t ToFullWidth(std::string& destination, std::string_view source, CodePage page);
std::size_t ToFullWidth(std::string& destination, std::string_view source);

// The screen columns of one UTF-8 character as CharacterLength delimits it: 1 for a single byte
// and for a half-width katakana, 2 for any other multibyte character. This mirrors Shift-JIS,
// where a character's columns are its bytes.
std::size_t Utf8CharacterColumns(std::string_view character);

// The screen columns of UTF-8 text, each character counted as Utf8CharacterColumns counts it (a
// byte that starts no valid character counts one).
std::size_t Utf8TextColumns(std::string_view text);

}  // namespace reel
