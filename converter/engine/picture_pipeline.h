// The reading half of the frame loop on a thread of its own.
//
// Fetching and decoding a source picture and coding the previous one are independent, so the
// pictures of output frames 0 ... N - 1 are produced in order on a reader thread, at most a few
// ahead, while the job's thread scales, codes and appends them. The consumer sees exactly the
// sequence a plain loop would make, so the movie is the same byte for byte.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "converter/engine/bmp_image.h"

namespace reel {

class PicturePipeline {
 public:
  using Producer = std::function<std::optional<BmpImage>(uint32_t)>;

  // Starts producing pictures 0 ... count - 1, at most `depth` ahead of Next().
  PicturePipeline(uint32_t count, Producer produce, std::size_t depth = 4);
  // Stops the reader (a picture being made is finished first) and waits for it.
  ~PicturePipeline();
  PicturePipeline(const PicturePipeline&) = delete;
  PicturePipeline& operator=(const PicturePipeline&) = delete;

  // The next picture in order. An exception the producer threw is thrown here.
  std::optional<BmpImage> Next();

 private:
  void Produce(std::stop_token stop);

  uint32_t count_;
  Producer produce_;
  std::size_t depth_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::deque<std::optional<BmpImage>> ready_;
  std::exception_ptr failure_;
  std::jthread reader_;  // last: started once everything above exists
};

}  // namespace reel
