// The frame loop on several threads.
//
// Frames are independent once their source pictures are chosen, so the work of a movie splits
// into three kinds: reading source pictures in order (one reader thread, since a source is read
// front to back), scaling and coding them (a few coder threads, each on whichever picture is next,
// which also makes a picture whose colour conversion the source left for later, unless the reader
// is ahead and makes it itself; where the source can, that picture is made at the movie's size at
// once) and appending the coded frames in order (the job's own thread, through Next()). The reader
// keeps at most a few pictures ahead of the appender. Each frame is made by the same calls on the
// same picture as in a plain loop, so the movie is the same byte for byte.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "common/result.h"
#include "converter/coder/bmp_image.h"
#include "converter/engine/source_picture.h"

namespace reel {

class FramePipeline {
 public:
  // The source picture of frame k (none: the picture is missing), or an error that ends the frames
  // there: the frames before it are still handed out, then the error. A picture left for later is
  // made on the coder thread that codes it; one that cannot be made is missing.
  using Reader = std::function<Result<std::optional<SourcePicture>>(uint32_t)>;
  // Codes a picture at the movie's size.
  using Coder = std::function<std::optional<std::vector<uint8_t>>(const BmpImage&)>;
  // Makes the coder of one coder thread, called once on that thread: a coder may keep working
  // buffers of its own from frame to frame.
  using CoderMaker = std::function<Coder()>;
  // Takes each source picture made at its own size once it has been coded (optional).
  using Returner = std::function<void(BmpImage)>;

  // The movie's picture size, and how a picture left for later is brought to it.
  struct Target {
    uint32_t width = 0;
    uint32_t height = 0;
    PictureScaling scaling = PictureScaling::kWhileMaking;
  };

  struct Frame {
    bool pictureMissing = false;                // the reader had no picture
    std::optional<std::vector<uint8_t>> coded;  // none when missing or not codable
  };

  // Reads, scales to `target` and codes frames first ... end - 1 with `coders` coder threads (at
  // least one).
  FramePipeline(uint32_t first, uint32_t end, Reader read, Target target, CoderMaker makeCoder, unsigned coders,
                Returner giveBack = {});
  // Stops every thread (pictures being read or coded are finished first) and waits for them.
  ~FramePipeline();
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  // The next frame in order, or the reader's error in the place of the frame it arose at. An
  // exception a reader or coder threw is thrown here.
  Result<Frame> Next();

  // Coder threads worth running on this machine: one per processor besides the reader's, at
  // least one.
  static unsigned DefaultCoders();

 private:
  void ReadFrames(uint32_t first, std::stop_token stop);
  bool CodersBehind();
  void CodeFrames(std::stop_token stop);
  void Fail(std::exception_ptr failure);

  uint32_t end_;
  Reader read_;
  Target target_;
  CoderMaker makeCoder_;
  Returner giveBack_;
  std::size_t depth_;
  std::mutex mutex_;
  // Each kind of thread waits on its own condition, so a change wakes only the threads it concerns.
  std::condition_variable_any roomToRead_;      // the reader: the appender moved on
  std::condition_variable_any pictureWaiting_;  // the coders: a picture was read, or reading ended
  std::condition_variable_any frameCoded_;      // the appender: a frame was coded
  std::deque<std::pair<uint32_t, std::optional<SourcePicture>>> pictures_;  // read, waiting for a coder
  std::map<uint32_t, Frame> frames_;                                   // coded, waiting to be appended
  uint32_t nextFrame_;   // the next frame Next() hands out
  bool readingDone_ = false;
  std::optional<std::pair<uint32_t, Error>> readError_;  // the frame the reader failed at, and why
  std::exception_ptr failure_;
  std::vector<std::jthread> threads_;  // last: started once everything above exists
};

}  // namespace reel
