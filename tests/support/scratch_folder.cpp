#include "tests/support/scratch_folder.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace reel::test {

ScratchFolder::ScratchFolder(std::string_view prefix) {
  std::filesystem::create_directories(REEL_TEST_TMP_DIR);
  std::string pattern = std::string(REEL_TEST_TMP_DIR) + "/" + std::string(prefix) + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch folder under " + pattern);
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> ScratchFolder::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void ScratchFolder::WriteFile(std::string_view name, const std::string& bytes) const {
  std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ScratchFolder::ReadFile(std::string_view name) const {
  std::ifstream in(path_ / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace reel::test
