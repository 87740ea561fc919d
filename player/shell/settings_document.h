// The player's settings file "video.cfg": a cached document of text lines.
//
// The file is read once into a list of lines and kept; reads and writes work on the cached lines
// and only SaveSettings writes them back. A line starting with "[" opens a section; any other line
// with "=" is an entry "key=value"; everything else is kept untouched and ignored. Section names
// and keys lose their spaces and tabs and are compared regardless of ASCII case, stepping over each
// multibyte character as one unit; a part in double quotes is taken literally without its quotes.
// Integer values keep the file's own lenient syntax (ParseSettingInt), which existing files rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace reel {

// The longest text value ReadSettingText hands back for FILE_NAME.
inline constexpr std::size_t kSettingTextMaximum = 1023;

// The size of the buffer the document is written through; larger documents are written whole.
inline constexpr std::size_t kSettingsSaveBuffer = 131072;

// The integer syntax of settings values. "0x" starts hexadecimal: every later character is a
// digit, "0".."9" worth 0..9 and any other worth its lower-case code minus 87. Otherwise decimal,
// read from the last character to the first with place values 1, 10, 100...: a digit adds its
// value times its place, any other character takes a place and adds 0, and a "-" anywhere makes
// the result negative. Arithmetic wraps at 32 bits.
int32_t ParseSettingInt(std::string_view value);

// A section name or key as it is compared: quoted parts kept literally without their quotes,
// spaces and tabs outside quotes removed.
std::string NormaliseSettingName(std::string_view text);

// A text value as it is handed back: the double quotes removed, nothing else changed.
std::string UnquoteSettingText(std::string_view text);

class SettingsDocument {
 public:
  SettingsDocument() = default;

  // Reads the file: lines end at CR LF or at a lone LF; a final line needs no line end. A missing
  // or unreadable file gives an empty document; one that exists but cannot be read is never
  // written over (Save refuses), so the settings in it are not lost.
  static SettingsDocument Load(const std::string& path);
  // The document made of `text`, as if read from a file named `path`.
  static SettingsDocument FromText(const std::string& path, std::string_view text);

  const std::string& Path() const { return path_; }
  const std::list<std::string>& Lines() const { return lines_; }

  // The raw value of the first matching entry (a view into the document), or none.
  std::optional<std::string_view> FindValue(std::string_view section, std::string_view key) const;

  // Replaces the first matching entry of the first matching section with key=value, or inserts
  // it directly after the section line; appends the section at the end when it is missing.
  void Write(std::string_view section, std::string_view key, std::string_view value);

  // Every line followed by CR LF.
  std::string Text() const;
  // Writes Text() to the file, so that at every moment, a power cut included, the file is whole:
  // the old one or the new one. The text goes to a temporary file in the same folder, which is
  // flushed to the disk and renamed over the old file, and then the folder is flushed. Whatever of
  // that fails, the folder is left as it was (the old file whole, no temporary left), and the error
  // names the file and the cause: kCannotWrite, or kCannotRead for a file that could not be read.
  Status Save() const;

 private:
  std::string path_;
  std::list<std::string> lines_;
  std::optional<Error> readError_;  // the file is there but could not be read
};

// The operations on the process-wide cached document. Each loads `file` first when no document is
// cached or the cached one belongs to another file (which is dropped without saving).
int32_t ReadSettingInt(std::string_view section, std::string_view key, int32_t defaultValue,
                       const std::string& file);
// The value (or the default) in `output`, which is left as the default when the value is empty
// or longer than `maximumLength`; returns the length of `output`.
std::size_t ReadSettingText(std::string_view section, std::string_view key, std::string_view defaultValue,
                            std::string& output, std::size_t maximumLength, const std::string& file);
void WriteSetting(std::string_view section, std::string_view key, std::string_view value,
                  const std::string& file);
// Writes the cached document, if any, to its file and drops it (also when the write failed).
Status SaveSettings();

}  // namespace reel
