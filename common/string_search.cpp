#include "common/string_search.h"

#include <string>

#include "common/code_page.h"

namespace reel {
namespace {

char FoldToUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The text with its ASCII letters in upper case; multibyte characters are kept as they are.
std::string FoldedText(std::string_view text, CodePage page) {
  std::string folded(text);
  for (std::size_t pos = 0; pos < folded.size();) {
    const std::size_t length = CharacterLength(folded, pos, page);
    if (length == 1) folded[pos] = FoldToUpper(folded[pos]);
    pos += length;
  }
  return folded;
}

}  // namespace

std::optional<std::size_t> FindLastChar(std::string_view text, char wanted) {
  const CodePage page = CurrentCodePage();
  text = UpToZero(text);
  std::optional<std::size_t> found;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = CharacterLength(text, pos, page);
    if (length == 1 && text[pos] == wanted) found = pos;
    pos += length;
  }
  return found;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  const CodePage page = CurrentCodePage();
  a = UpToZero(a);
  b = UpToZero(b);
  std::size_t pos = 0;
  while (pos < a.size()) {
    const std::size_t length = CharacterLength(a, pos, page);
    if (length > 1) {
      if (b.substr(pos, length) != a.substr(pos, length)) return false;
    } else if (pos >= b.size() || FoldToUpper(a[pos]) != FoldToUpper(b[pos])) {
      return false;
    }
    pos += length;
  }
  return pos == b.size();
}

bool LessNoCase(std::string_view a, std::string_view b) {
  const CodePage page = CurrentCodePage();
  a = UpToZero(a);
  b = UpToZero(b);
  const std::string foldedA = FoldedText(a, page);
  const std::string foldedB = FoldedText(b, page);
  if (foldedA != foldedB) return std::string_view(foldedA) < std::string_view(foldedB);
  return a < b;
}

}  // namespace reel
