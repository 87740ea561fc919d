#include "converter/engine/spare_pictures.h"

#include <utility>

namespace reel {

void SparePictures::GiveBack(BmpImage picture) {
  std::lock_guard lock(mutex_);
  if (spares_.size() < kMostKept) spares_.push_back(std::move(picture).TakeBytes());
}

std::vector<uint8_t> SparePictures::Take() {
  std::lock_guard lock(mutex_);
  if (spares_.empty()) return {};
  std::vector<uint8_t> bytes = std::move(spares_.back());
  spares_.pop_back();
  return bytes;
}

}  // namespace reel
