// A shared module loaded at run time, unloaded when the owner lets it go.
//
// A name without a "/" is looked up by the platform's normal library search: the running
// program's folder first, then the installed modules' folder beside it (../lib/reelforge), then
// the executable's run path and the system's folders. A name with a "/" is opened as the file it
// names. Entry points are found by name; a missing one is reported as null, never guessed.
#pragma once

#include <optional>
#include <string>

namespace reel {

class LoadableModule {
 public:
  // Loads the module, or returns nothing when it cannot be found or is not a loadable object.
  static std::optional<LoadableModule> Load(const std::string& name);

  LoadableModule(LoadableModule&& other) noexcept;
  LoadableModule& operator=(LoadableModule&& other) noexcept;
  LoadableModule(const LoadableModule&) = delete;
  LoadableModule& operator=(const LoadableModule&) = delete;
  ~LoadableModule();

  // The address of the named entry point, or null when the module has none of that name.
  void* Symbol(const char* name) const;

  // The same address as a function pointer of the caller's type.
  template <typename Function>
  Function Entry(const char* name) const {
    return reinterpret_cast<Function>(Symbol(name));
  }

 private:
  explicit LoadableModule(void* handle) : handle_(handle) {}
  void Close();

  void* handle_ = nullptr;
};

}  // namespace reel
