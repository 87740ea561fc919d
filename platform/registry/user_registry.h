// The current user's registry, kept as a small text file.
//
// The store is $XDG_CONFIG_HOME/reelforge/registry.ini, or ~/.config/reelforge/registry.ini when
// XDG_CONFIG_HOME is unset or not an absolute path. A key path is a section, a value name is an
// entry, and every value is a string:
//
//   [Software\MarineCat\GOGO_DLL]
//   INSTPATH=/opt/encoders/gogo.dll
//
// Key paths and value names compare without regard to ASCII case, as registry names do. Lines may
// end in CR LF or LF; lines starting with ";" or "#" are comments. A value is the text after the
// first "=" on its line without the blanks around it. The store is only read.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace reel {

// Where the store lives for this process's environment, or nothing when neither XDG_CONFIG_HOME
// nor HOME says.
std::optional<std::filesystem::path> UserRegistryPath();

// The string value `valueName` of the key `keyPath`, or nothing when the store, the key or the
// value is missing.
std::optional<std::string> ReadUserRegistryString(std::string_view keyPath, std::string_view valueName);

// The same lookup in a store's text, for callers that hold it already.
std::optional<std::string> FindRegistryString(std::string_view storeText, std::string_view keyPath,
                                              std::string_view valueName);

}  // namespace reel
