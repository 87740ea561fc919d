// A folder of the fuzz process's own, for code under test that reads files by name from a folder
// or from the environment. Made once per process in memory (/dev/shm) where there is one, else
// under $TMPDIR or /tmp, and removed with everything in it when the process exits normally. Files
// on a disk shared with other work made a harness wait on the disk for most of its time.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>

namespace reel::fuzz {

class TempFolder {
 public:
  explicit TempFolder(const std::string& name) {
    path_ = Base() / (name + "-" + std::to_string(::getpid()));
    std::error_code error;
    std::filesystem::create_directories(path_, error);
  }
  ~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // Writes `bytes` as the file `name` in the folder, replacing it; false when that failed.
  bool WriteFile(const std::string& name, std::span<const uint8_t> bytes) const {
    std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
  }

 private:
  static std::filesystem::path Base() {
    if (access("/dev/shm", W_OK) == 0) return "/dev/shm";
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && *base != '\0' ? base : "/tmp";
  }

  std::filesystem::path path_;
};

}  // namespace reel::fuzz
