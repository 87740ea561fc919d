// Coded pictures' bytes, handed back from the coder threads, for the picture source to fill again:
// a picture's worth of memory is then neither allocated nor cleared for every frame.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "converter/coder/bmp_image.h"

namespace reel {

class SparePictures {
 public:
  // Keeps the picture's bytes (from any thread).
  void GiveBack(BmpImage picture);
  // Bytes given back earlier, or none yet (from any thread).
  std::vector<uint8_t> Take();

 private:
  // More than the pictures the frame loop holds at once are never needed.
  static constexpr std::size_t kMostKept = 8;
  std::mutex mutex_;
  std::vector<std::vector<uint8_t>> spares_;
};

}  // namespace reel
