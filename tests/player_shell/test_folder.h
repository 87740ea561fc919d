// A fresh folder for one test under the build's test directory, removed afterwards.
#pragma once

#include <string>

namespace reel::test {

class TestFolder {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  // The folder's path, ending with "/".
  const std::string& Path() const { return path_; }
  void WriteFile(const std::string& name, const std::string& bytes) const;
  std::string ReadFile(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace reel::test
