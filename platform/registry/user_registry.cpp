// Reading the per-user registry store. The file is small and read whole on each lookup, so a value
// written by the user between two conversions is seen by the second.
#include "platform/registry/user_registry.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace reel {
namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The next line of the text without its line end; advances `rest` past it.
std::string_view NextLine(std::string_view& rest) {
  const auto end = rest.find('\n');
  std::string_view line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

std::optional<std::filesystem::path> UserRegistryPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') {
    return std::filesystem::path(config) / "reelforge" / "registry.ini";
  }
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') {
    return std::filesystem::path(home) / ".config" / "reelforge" / "registry.ini";
  }
  return std::nullopt;
}

std::optional<std::string> FindRegistryString(std::string_view storeText, std::string_view keyPath,
                                              std::string_view valueName) {
  bool inKey = false;
  for (std::string_view rest = storeText; !rest.empty();) {
    const std::string_view line = NextLine(rest);
    const std::string_view content = TrimBlanks(line);
    if (content.empty() || content.front() == ';' || content.front() == '#') continue;
    if (content.front() == '[') {
      inKey = content.back() == ']' &&
              EqualIgnoringAsciiCase(content.substr(1, content.size() - 2), keyPath);
      continue;
    }
    if (!inKey) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (EqualIgnoringAsciiCase(TrimBlanks(line.substr(0, equals)), valueName)) {
      return std::string(TrimBlanks(line.substr(equals + 1)));
    }
  }
  return std::nullopt;
}

std::optional<std::string> ReadUserRegistryString(std::string_view keyPath, std::string_view valueName) {
  const auto path = UserRegistryPath();
  if (!path) return std::nullopt;
  std::ifstream file(*path, std::ios::binary);
  if (!file) return std::nullopt;
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return FindRegistryString(text, keyPath, valueName);
}

}  // namespace reel
