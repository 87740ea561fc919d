// A file that holds the current fuzz input, for code under test that only opens paths.
//
// One in-memory file (memfd) per process, emptied and rewritten for every input, so no input
// touches the disk and no temporary file is left behind. Its path, /proc/self/fd/N, names a
// regular file that opens afresh with every open.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace reel::fuzz {

class InputFile {
 public:
  InputFile() : descriptor_(memfd_create("fuzz-input", 0)) {}
  ~InputFile() {
    if (descriptor_ >= 0) close(descriptor_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Replaces the file's contents with `bytes`; false when that failed.
  bool Write(std::span<const uint8_t> bytes) const {
    if (descriptor_ < 0 || ftruncate(descriptor_, 0) != 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t written = pwrite(descriptor_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      if (written <= 0) return false;
      done += static_cast<std::size_t>(written);
    }
    return true;
  }

  std::string Path() const { return "/proc/self/fd/" + std::to_string(descriptor_); }

 private:
  int descriptor_;
};

}  // namespace reel::fuzz
