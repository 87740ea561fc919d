// The colour converters of the threads that make late pictures (source_picture.h): each making
// borrows one and gives it back, so no converter serves two threads at once, and there are never
// more converters than threads making pictures at the same time.
#pragma once

#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace reel {

template <typename Converter>
class ConverterPool {
 public:
  // `make` makes a converter when none is free.
  explicit ConverterPool(std::function<Converter()> make) : make_(std::move(make)) {}

  Converter Borrow() {
    std::unique_lock lock(mutex_);
    if (idle_.empty()) {
      lock.unlock();
      return make_();
    }
    Converter converter = std::move(idle_.back());
    idle_.pop_back();
    return converter;
  }

  void GiveBack(Converter converter) {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(converter));
  }

 private:
  std::function<Converter()> make_;
  std::mutex mutex_;
  std::vector<Converter> idle_;
};

}  // namespace reel
