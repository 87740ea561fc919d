#include "converter/engine/picture_pipeline.h"

#include <utility>

namespace reel {

PicturePipeline::PicturePipeline(uint32_t count, Producer produce, std::size_t depth)
    : count_(count), produce_(std::move(produce)), depth_(depth == 0 ? 1 : depth),
      reader_([this](std::stop_token stop) { Produce(stop); }) {}

PicturePipeline::~PicturePipeline() {
  reader_.request_stop();
  changed_.notify_all();
}

void PicturePipeline::Produce(std::stop_token stop) {
  for (uint32_t k = 0; k < count_; ++k) {
    {
      std::unique_lock lock(mutex_);
      if (!changed_.wait(lock, stop, [this] { return ready_.size() < depth_; })) return;
    }
    std::optional<BmpImage> picture;
    try {
      picture = produce_(k);
    } catch (...) {
      std::lock_guard lock(mutex_);
      failure_ = std::current_exception();
      changed_.notify_all();
      return;
    }
    {
      std::lock_guard lock(mutex_);
      ready_.push_back(std::move(picture));
    }
    changed_.notify_all();
  }
}

std::optional<BmpImage> PicturePipeline::Next() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !ready_.empty() || failure_; });
  if (ready_.empty()) std::rethrow_exception(failure_);
  std::optional<BmpImage> picture = std::move(ready_.front());
  ready_.pop_front();
  lock.unlock();
  changed_.notify_all();
  return picture;
}

}  // namespace reel
