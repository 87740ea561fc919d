// Character-aware searching and comparing of file names and settings keys.
//
// A byte inside a multibyte character can equal "/", "\\" or "." (the second byte of the
// Shift-JIS character 0x83 0x5C is a backslash), so these routines step over each multibyte
// character of the process code page as one unit and never look inside it. Like the C strings
// they stand in for, the texts end at their first zero byte.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace reel {

// The position of the last `wanted` byte in the text outside any multibyte character, or none.
std::optional<std::size_t> FindLastChar(std::string_view text, char wanted);

// True when the texts are equal with ASCII letters compared regardless of case. A multibyte
// character of `a` must be matched byte for byte by `b`; `b` must end where `a` ends.
bool EqualNoCase(std::string_view a, std::string_view b);

// Orders texts as a folder listing does: ASCII letters compared regardless of case (as upper
// case), multibyte characters by their bytes; texts equal that way are ordered by their bytes, so
// that different texts never compare equal.
bool LessNoCase(std::string_view a, std::string_view b);

}  // namespace reel
