#include "tests/support/file_bytes.h"

#include <fstream>
#include <iterator>

namespace reel::test {

std::vector<uint8_t> ReadAllBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteAllBytes(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

bool WriteAllBytes(const std::filesystem::path& path, std::string_view text) {
  return WriteAllBytes(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

}  // namespace reel::test
