// QrxReader: the open movie file, with the next coded frames loaded ahead by a loader thread.
//
// The header and the whole index are read once. The frames themselves pass through two load
// buffers of at most two frames each, so the whole movie is never in memory and every read is off
// the player's thread. The loader refills the buffer the player has moved past with the frames
// after the last one loaded; when the player asks for a frame that neither buffer holds, the loader
// starts again from that frame, buffer 0 first. A buffer is only ever refilled while the player
// cannot be using it: the player takes frames from a buffer only once the loader has published it,
// and the frame last handed out stays valid until the next GetFrame.
//
// The index is checked when the movie is opened: every frame must lie inside the file. Frames need
// not be stored back to back, and a frame larger than the load buffers makes them larger. A read
// that fails later (the file shrank) makes GetFrame hand back nothing instead of waiting.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "common/result.h"

namespace reel {

// The load buffer size for movies narrower than 640 pixels, and for wider ones.
inline constexpr uint32_t kLoadBufferSize = 65536;
inline constexpr uint32_t kWideLoadBufferSize = 4 * kLoadBufferSize;
inline constexpr uint32_t kWideMovieWidth = 640;

class QrxReader {
 public:
  // Opens the movie, reads its header and index, fills both buffers from frame 0 and starts the
  // loader thread. An error naming the file when it does not exist (kNotFound), cannot be read
  // (kCannotRead), is shorter than a header (kNotThisFormat) or has an index that does not fit it
  // (kDamaged).
  static Result<std::unique_ptr<QrxReader>> Open(const std::string& path,
                                                 uint32_t bufferSize = kLoadBufferSize);

  // Only Open makes readers; the key lets it do so through make_unique.
  class ConstructionKey {
    ConstructionKey() = default;
    friend class QrxReader;
  };
  class File;
  struct FrameEntry {
    uint64_t fileOffset = 0;
    uint32_t size = 0;
  };
  QrxReader(ConstructionKey, std::unique_ptr<File> file, std::vector<FrameEntry> frames, uint32_t frameRate,
            uint32_t width, uint32_t height, uint32_t bufferSize);
  QrxReader(const QrxReader&) = delete;
  QrxReader& operator=(const QrxReader&) = delete;
  ~QrxReader();  // stops the loader thread and waits for it

  // Starts the loader thread unless it runs already.
  void StartLoader();

  // The coded frame `index`, waiting until the loader has it; valid until the next GetFrame.
  // Empty for an index past the last frame or when the file could not be read.
  std::span<const uint8_t> GetFrame(uint32_t index);

  uint32_t FrameCount() const { return static_cast<uint32_t>(frames_.size()); }
  uint32_t FrameRate() const { return frameRate_; }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  uint32_t BufferSize() const { return bufferSize_; }
  // True once a read of frame data failed; GetFrame then hands back nothing.
  bool Failed() const;
  // Reads of frame data so far (one per buffer filled); for tests and benchmarks.
  uint32_t FillCount() const;

 private:
  struct LoadBuffer {
    std::vector<uint8_t> bytes;
    uint32_t first = 0;
    uint32_t count = 0;  // 0 while the buffer is empty or being filled
    uint32_t secondStart = 0;
  };
  bool Holds(const LoadBuffer& buffer, uint32_t index) const;
  const LoadBuffer* BufferHolding(uint32_t index) const;
  void Fill(std::unique_lock<std::mutex>& lock, int which, uint32_t first);
  bool ReadFrames(LoadBuffer& buffer, uint32_t first, uint32_t count);
  void RunLoader();
  bool LoadNext(std::unique_lock<std::mutex>& lock);
  bool LoaderHasWork() const;

  std::unique_ptr<File> file_;
  std::vector<FrameEntry> frames_;
  uint32_t frameRate_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t bufferSize_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  LoadBuffer buffers_[2];
  int refillNext_ = 0;
  uint32_t nextToLoad_ = 0;
  uint32_t requested_ = 0;
  uint32_t fills_ = 0;
  bool failed_ = false;
  bool closing_ = false;
  std::thread loader_;
};

}  // namespace reel
