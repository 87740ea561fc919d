// A fresh folder for one test under the build's test folder, removed with everything in it when
// the object goes. ctest runs tests in parallel processes, so every folder has a unique name.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace reel::test {

class ScratchFolder {
 public:
  explicit ScratchFolder(std::string_view prefix = "scratch");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The folder's path ending with "/", for building names by concatenation.
  std::string Slash() const { return path_.string() + "/"; }
  std::string File(std::string_view name) const { return (path_ / name).string(); }
  // The names of every file in the folder, hidden ones included, sorted.
  std::vector<std::string> Names() const;
  void WriteFile(std::string_view name, const std::string& bytes) const;
  std::string ReadFile(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace reel::test
