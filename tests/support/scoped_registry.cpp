#include "tests/support/scoped_registry.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>

namespace reel::test {

ScopedRegistry::ScopedRegistry(const std::string& installPath) {
  if (const char* previous = std::getenv("XDG_CONFIG_HOME")) previous_ = previous;
  setenv("XDG_CONFIG_HOME", folder_.Path().c_str(), 1);
  if (installPath.empty()) return;
  std::filesystem::create_directories(folder_.Path() / "reelforge");
  std::ofstream store(folder_.Path() / "reelforge" / "registry.ini");
  store << "[Software\\MarineCat\\GOGO_DLL]\r\nINSTPATH=" << installPath << "\r\n";
}

ScopedRegistry::~ScopedRegistry() {
  if (previous_) {
    setenv("XDG_CONFIG_HOME", previous_->c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace reel::test
