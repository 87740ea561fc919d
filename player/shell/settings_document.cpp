#include "player/shell/settings_document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>

#include "common/code_page.h"
#include "common/string_search.h"

namespace reel {
namespace {

// Walks a text one character at a time under the process code page, so that the second byte of a
// multibyte character is never taken for "]", "=", a quote or a space.
template <typename Visit>
void ForEachCharacter(std::string_view text, Visit visit) {
  const CodePage page = CurrentCodePage();
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = std::max<std::size_t>(1, CharacterLength(text, pos, page));
    if (!visit(text.substr(pos, length), pos)) return;
    pos += length;
  }
}

bool IsSingle(std::string_view character, char wanted) {
  return character.size() == 1 && character[0] == wanted;
}

bool IsSectionLine(std::string_view line) { return !line.empty() && line[0] == '['; }

// The position of the first `wanted` outside double quotes, or none.
std::optional<std::size_t> FindOutsideQuotes(std::string_view text, char wanted) {
  std::optional<std::size_t> found;
  bool quoted = false;
  ForEachCharacter(text, [&](std::string_view character, std::size_t pos) {
    if (IsSingle(character, '"')) {
      quoted = !quoted;
    } else if (!quoted && IsSingle(character, wanted)) {
      found = pos;
      return false;
    }
    return true;
  });
  return found;
}

std::string SectionNameOf(std::string_view line) {
  std::string_view inside = line.substr(1);
  if (const auto close = FindOutsideQuotes(inside, ']')) inside = inside.substr(0, *close);
  return NormaliseSettingName(inside);
}

struct Entry {
  std::string key;
  std::string_view value;
};

std::optional<Entry> EntryOf(std::string_view line) {
  if (IsSectionLine(line)) return std::nullopt;
  const auto equals = FindOutsideQuotes(line, '=');
  if (!equals) return std::nullopt;
  return Entry{NormaliseSettingName(line.substr(0, *equals)), line.substr(*equals + 1)};
}

bool NamesMatch(std::string_view wanted, std::string_view found) { return EqualNoCase(wanted, found); }

}  // namespace

int32_t ParseSettingInt(std::string_view value) {
  uint32_t result = 0;
  if (value.size() >= 2 && value[0] == '0' && value[1] == 'x') {
    for (const char c : value.substr(2)) {
      const auto code = static_cast<uint8_t>(c);
      const uint32_t digit = (c >= '0' && c <= '9') ? static_cast<uint32_t>(c - '0')
                             : (code >= 'A' && code <= 'Z') ? static_cast<uint32_t>(code + 32 - 87)
                                                            : static_cast<uint32_t>(code - 87);
      result = result * 16 + digit;
    }
    return static_cast<int32_t>(result);
  }
  bool negative = false;
  uint32_t place = 1;
  for (auto it = value.rbegin(); it != value.rend(); ++it) {
    if (*it >= '0' && *it <= '9') result += static_cast<uint32_t>(*it - '0') * place;
    if (*it == '-') negative = true;
    place *= 10;
  }
  return static_cast<int32_t>(negative ? 0u - result : result);
}

std::string NormaliseSettingName(std::string_view text) {
  std::string name;
  bool quoted = false;
  ForEachCharacter(text, [&](std::string_view character, std::size_t) {
    if (IsSingle(character, '"')) {
      quoted = !quoted;
    } else if (quoted || !(IsSingle(character, ' ') || IsSingle(character, '\t'))) {
      name.append(character);
    }
    return true;
  });
  return name;
}

std::string UnquoteSettingText(std::string_view text) {
  std::string out;
  ForEachCharacter(text, [&](std::string_view character, std::size_t) {
    if (!IsSingle(character, '"')) out.append(character);
    return true;
  });
  return out;
}

SettingsDocument SettingsDocument::FromText(const std::string& path, std::string_view text) {
  SettingsDocument document;
  document.path_ = path;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      document.lines_.emplace_back(text.substr(start));
      break;
    }
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    document.lines_.emplace_back(line);
    start = end + 1;
  }
  return document;
}

namespace {

// The whole file; none when it does not exist; an error when it is there but cannot be read.
Result<std::optional<std::string>> ReadWholeFile(const std::string& path) {
  const auto cannotRead = [&path](int cause) {
    return MakeError(ErrorKind::kCannotRead, path, std::string("could not be read (") + std::strerror(cause) + ")");
  };
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::optional<std::string>();  // no such file
    return cannotRead(errno);
  }
  std::string text;
  std::array<char, 16384> buffer{};
  for (;;) {
    const ssize_t got = ::read(descriptor, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int failure = errno;
      ::close(descriptor);
      return cannotRead(failure);
    }
    if (got == 0) break;
    text.append(buffer.data(), static_cast<std::size_t>(got));
  }
  ::close(descriptor);
  return std::optional<std::string>(std::move(text));
}

}  // namespace

SettingsDocument SettingsDocument::Load(const std::string& path) {
  Result<std::optional<std::string>> text = ReadWholeFile(path);
  if (!text) {
    SettingsDocument document = FromText(path, {});
    document.readError_ = text.error();
    return document;
  }
  return FromText(path, text->value_or(std::string()));
}

std::optional<std::string_view> SettingsDocument::FindValue(std::string_view section,
                                                            std::string_view key) const {
  std::string current;
  for (const std::string& line : lines_) {
    if (IsSectionLine(line)) {
      current = SectionNameOf(line);
      continue;
    }
    if (!NamesMatch(section, current)) continue;
    const auto entry = EntryOf(line);
    if (entry && NamesMatch(key, entry->key)) return entry->value;
  }
  return std::nullopt;
}

void SettingsDocument::Write(std::string_view section, std::string_view key, std::string_view value) {
  auto sectionLine = lines_.begin();
  for (; sectionLine != lines_.end(); ++sectionLine) {
    if (IsSectionLine(*sectionLine) && NamesMatch(section, SectionNameOf(*sectionLine))) break;
  }
  if (sectionLine == lines_.end()) {
    sectionLine = lines_.insert(lines_.end(), "[" + std::string(section) + "]");
  }
  std::string newLine = std::string(key) + "=" + std::string(value);
  for (auto it = std::next(sectionLine); it != lines_.end() && !IsSectionLine(*it); ++it) {
    const auto entry = EntryOf(*it);
    if (entry && NamesMatch(key, entry->key)) {
      *it = std::move(newLine);
      return;
    }
  }
  lines_.insert(std::next(sectionLine), std::move(newLine));
}

std::string SettingsDocument::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

namespace {

// The file the document goes to: a symbolic link's target, so that the link stays a link.
std::string SaveTarget(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  const std::filesystem::path target = std::filesystem::weakly_canonical(path, error);
  return error ? path : target.string();
}

// Writes all of `text` to the descriptor; false on any failure (errno tells which).
bool WriteAll(int descriptor, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(descriptor, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

Error CannotWrite(const std::string& path, const std::string& what, int cause) {
  return MakeError(ErrorKind::kCannotWrite, path, what + ": " + std::strerror(cause));
}

// The folder a file lies in, for flushing it.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes the text, gives the file its mode, flushes it to the disk and closes it; errno tells why
// when false.
bool WriteAndFlush(int descriptor, std::string_view text, const std::optional<mode_t>& mode) {
  bool written = WriteAll(descriptor, text) && (!mode || ::fchmod(descriptor, *mode) == 0) && ::fsync(descriptor) == 0;
  const int failure = errno;
  if (::close(descriptor) != 0) return false;
  errno = failure;
  return written;
}

// Flushes a folder's entries (a rename in it) to the disk; errno tells why when false.
bool FlushFolder(const std::string& folder) {
  const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return false;
  const bool flushed = ::fsync(descriptor) == 0;
  const int failure = errno;
  if (::close(descriptor) != 0) return false;
  errno = failure;
  return flushed;
}

}  // namespace

// The new text goes to a temporary beside the old file and is flushed, then renamed over it, and
// the folder is flushed. The old file keeps a second name (a hard link) until the folder has been
// flushed, so that a failure of that last step can put it back.
Status SettingsDocument::Save() const {
  if (readError_) {
    return Error{ErrorKind::kCannotRead, readError_->message + ", so it is left as it was"};
  }
  const std::string target = SaveTarget(path_);
  const std::string suffix = "-" + std::to_string(::getpid());
  const std::string temporary = target + ".saving" + suffix;
  const std::string kept = target + ".old" + suffix;
  ::unlink(temporary.c_str());  // left over by a player of this number that was killed
  ::unlink(kept.c_str());
  // The new file keeps the old one's permissions; a new one gets the usual ones.
  struct stat old {};
  const bool hadFile = ::stat(target.c_str(), &old) == 0;
  const std::optional<mode_t> mode = hadFile ? std::optional<mode_t>(old.st_mode & 07777) : std::nullopt;
  const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor < 0) return CannotWrite(path_, "cannot be created", errno);
  if (!WriteAndFlush(descriptor, Text(), mode)) {
    const int failure = errno;
    ::unlink(temporary.c_str());
    return CannotWrite(path_, "cannot be written", failure);
  }
  // A file system without hard links keeps no second name; the old file then cannot be put back.
  const bool keptOld = hadFile && ::link(target.c_str(), kept.c_str()) == 0;
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int failure = errno;
    ::unlink(temporary.c_str());
    if (keptOld) ::unlink(kept.c_str());
    return CannotWrite(path_, "cannot be replaced", failure);
  }
  if (!FlushFolder(FolderOf(target))) {
    const int failure = errno;
    if (keptOld) {
      ::rename(kept.c_str(), target.c_str());
    } else if (!hadFile) {
      ::unlink(target.c_str());
    }
    return CannotWrite(path_, "cannot be flushed to the disk", failure);
  }
  if (keptOld) ::unlink(kept.c_str());
  return {};
}

namespace {

// The process-wide cache: one document at a time.
struct SettingsCache {
  std::mutex lock;
  std::optional<SettingsDocument> document;
};

SettingsCache& Cache() {
  static SettingsCache cache;
  return cache;
}

// Paths are compared exactly: on this system two names differing in case are two files.
SettingsDocument& DocumentFor(SettingsCache& cache, const std::string& file) {
  if (!cache.document || cache.document->Path() != file) cache.document = SettingsDocument::Load(file);
  return *cache.document;
}

}  // namespace

int32_t ReadSettingInt(std::string_view section, std::string_view key, int32_t defaultValue,
                       const std::string& file) {
  SettingsCache& cache = Cache();
  const std::lock_guard guard(cache.lock);
  const auto value = DocumentFor(cache, file).FindValue(section, key);
  return !value || value->empty() ? defaultValue : ParseSettingInt(*value);
}

std::size_t ReadSettingText(std::string_view section, std::string_view key, std::string_view defaultValue,
                            std::string& output, std::size_t maximumLength, const std::string& file) {
  SettingsCache& cache = Cache();
  const std::lock_guard guard(cache.lock);
  output = std::string(defaultValue);
  const auto value = DocumentFor(cache, file).FindValue(section, key);
  if (!value || value->empty()) return output.size();
  std::string text = UnquoteSettingText(*value);
  if (text.size() <= maximumLength) output = std::move(text);
  return output.size();
}

void WriteSetting(std::string_view section, std::string_view key, std::string_view value,
                  const std::string& file) {
  SettingsCache& cache = Cache();
  const std::lock_guard guard(cache.lock);
  DocumentFor(cache, file).Write(section, key, value);
}

Status SaveSettings() {
  SettingsCache& cache = Cache();
  const std::lock_guard guard(cache.lock);
  if (!cache.document) return {};
  Status saved = cache.document->Save();
  cache.document.reset();
  return saved;
}

}  // namespace reel
