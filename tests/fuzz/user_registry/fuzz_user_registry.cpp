// Arbitrary bytes as the per-user settings store. The first line names a lookup, key path and
// value name separated by a tab; the whole input is the store's text. The lookup and the
// encoder's own one (Software\MarineCat\GOGO_DLL, INSTPATH) are made on the text and through the
// store's file, found through XDG_CONFIG_HOME: both must agree, and a value found is one line's
// text without the blanks around it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/registry/user_registry.h"
#include "tests/fuzz/temp_folder.h"

namespace {

struct Store {
  reel::fuzz::TempFolder folder{"fuzz-user-registry"};
  Store() {
    setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);
    std::error_code error;
    std::filesystem::create_directories(folder.Path() / "reelforge", error);
  }
};

void CheckValue(const std::optional<std::string>& value) {
  if (!value || value->empty()) return;
  if (value->find('\n') != std::string::npos) std::abort();
  const char first = value->front();
  const char last = value->back();
  if (first == ' ' || first == '\t' || last == ' ' || last == '\t') std::abort();
}

void Lookup(std::string_view text, std::string_view keyPath, std::string_view valueName, bool throughFile) {
  const auto found = reel::FindRegistryString(text, keyPath, valueName);
  CheckValue(found);
  if (throughFile && reel::ReadUserRegistryString(keyPath, valueName) != found) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const Store store;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string_view firstLine = text.substr(0, text.find('\n'));
  const auto tab = firstLine.find('\t');
  const std::string_view keyPath = firstLine.substr(0, tab);
  const std::string_view valueName = tab == std::string_view::npos ? std::string_view() : firstLine.substr(tab + 1);

  const bool written = store.folder.WriteFile("reelforge/registry.ini", std::span(data, size));
  Lookup(text, keyPath, valueName, written);
  Lookup(text, "Software\\MarineCat\\GOGO_DLL", "INSTPATH", written);
  return 0;
}
