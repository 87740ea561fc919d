// A registry of the test's own: XDG_CONFIG_HOME points at a fresh folder for the object's
// lifetime, so the per-user store the programs read and write is the test's.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/scratch_folder.h"

namespace reel::test {

// Points XDG_CONFIG_HOME at a folder of its own for the test's lifetime; with a module path the
// registry's INSTPATH names it.
class ScopedRegistry {
 public:
  explicit ScopedRegistry(const std::string& installPath = "");
  ~ScopedRegistry();
  ScopedRegistry(const ScopedRegistry&) = delete;
  ScopedRegistry& operator=(const ScopedRegistry&) = delete;
  const std::filesystem::path& ConfigHome() const { return folder_.Path(); }

 private:
  ScratchFolder folder_;
  std::optional<std::string> previous_;
};

}  // namespace reel::test
