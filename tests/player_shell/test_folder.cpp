#include "test_folder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace reel::test {

TestFolder::TestFolder() {
  std::filesystem::create_directories(REEL_TEST_TMP_DIR);
  std::string pattern = std::string(REEL_TEST_TMP_DIR) + "/shell-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(buffer.data()) + "/";
}

TestFolder::~TestFolder() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

void TestFolder::WriteFile(const std::string& name, const std::string& bytes) const {
  std::ofstream out(path_ + name, std::ios::binary);
  out << bytes;
}

std::string TestFolder::ReadFile(const std::string& name) const {
  std::ifstream in(path_ + name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace reel::test
