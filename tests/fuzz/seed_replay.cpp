// Replays a fuzz harness's seed corpus as an ordinary test: every file of every folder named on
// the command line is handed to the harness's LLVMFuzzerTestOneInput once, in name order, from an
// exact-size copy so that a read past the end is caught by the sanitizers.
//
// A harness reports a fault by aborting (or by a sanitizer report), so the file's name is printed
// before it runs: the last name in the output is the one that failed. A missing or empty folder is
// a failure too, so that seeds moved away are not silently skipped.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> SeedFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SEED_FOLDER...\n", argv[0]);
    return 2;
  }
  std::size_t replayed = 0;
  for (int a = 1; a < argc; ++a) {
    const std::vector<std::filesystem::path> files = SeedFiles(argv[a]);
    if (files.empty()) {
      std::fprintf(stderr, "%s: no seed files (missing or empty folder)\n", argv[a]);
      return 1;
    }
    for (const auto& file : files) {
      std::printf("replaying %s\n", file.c_str());
      std::fflush(stdout);
      const std::vector<uint8_t> bytes = ReadWhole(file);
      // A block of exactly the file's size (a vector may hold spare capacity past its end), never
      // null even for an empty file, as libFuzzer hands it over.
      const auto exact = std::make_unique<uint8_t[]>(bytes.size());
      std::copy(bytes.begin(), bytes.end(), exact.get());
      LLVMFuzzerTestOneInput(exact.get(), bytes.size());
      ++replayed;
    }
  }
  std::printf("%zu seeds replayed\n", replayed);
  return 0;
}
