#include "converter/engine/frame_pipeline.h"

#include <algorithm>

namespace reel {
namespace {

// Pictures read ahead per coder, beyond the ones being coded: enough to keep every coder busy,
// few enough that memory stays a handful of pictures.
constexpr std::size_t kPicturesAheadPerCoder = 2;

}  // namespace

// The reader and its decoder, with the soundtrack's encoding beside them, keep about one
// processor busy, so the coders get the rest. (With the colour conversion on the coder threads,
// two coders on two processors were no faster than one and took a few percent more processor
// time.)
unsigned FramePipeline::DefaultCoders() {
  const unsigned processors = std::thread::hardware_concurrency();
  return processors > 2 ? processors - 1 : 1;
}

FramePipeline::FramePipeline(uint32_t first, uint32_t end, Reader read, Target target, CoderMaker makeCoder,
                             unsigned coders, Returner giveBack)
    : end_(end), read_(std::move(read)), target_(target), makeCoder_(std::move(makeCoder)), giveBack_(std::move(giveBack)),
      depth_(kPicturesAheadPerCoder * std::max(1u, coders) + 1), nextFrame_(first) {
  threads_.emplace_back([this, first](std::stop_token stop) { ReadFrames(first, stop); });
  for (unsigned i = 0; i < std::max(1u, coders); ++i) {
    threads_.emplace_back([this](std::stop_token stop) { CodeFrames(stop); });
  }
}

FramePipeline::~FramePipeline() {
  for (auto& thread : threads_) thread.request_stop();
  roomToRead_.notify_all();
  pictureWaiting_.notify_all();
  frameCoded_.notify_all();
  threads_.clear();  // joins
}

void FramePipeline::Fail(std::exception_ptr failure) {
  {
    std::lock_guard lock(mutex_);
    if (!failure_) failure_ = failure;
  }
  roomToRead_.notify_all();
  pictureWaiting_.notify_all();
  frameCoded_.notify_all();
}

void FramePipeline::ReadFrames(uint32_t first, std::stop_token stop) {
  try {
    for (uint32_t k = first; k < end_; ++k) {
      {
        std::unique_lock lock(mutex_);
        if (!roomToRead_.wait(lock, stop, [&] { return k - nextFrame_ < depth_ || failure_; }) || failure_) return;
      }
      Result<std::optional<SourcePicture>> picture = read_(k);
      if (!picture) {
        std::lock_guard lock(mutex_);
        readError_.emplace(k, picture.error());
        break;
      }
      if (*picture && CodersBehind()) (*picture)->MakeNow(target_.width, target_.height, target_.scaling);
      {
        std::lock_guard lock(mutex_);
        pictures_.emplace_back(k, std::move(*picture));
      }
      pictureWaiting_.notify_one();
    }
  } catch (...) {
    Fail(std::current_exception());
    return;
  }
  {
    std::lock_guard lock(mutex_);
    readingDone_ = true;
  }
  pictureWaiting_.notify_all();
  frameCoded_.notify_all();
}

// A picture still waits for a coder when the next one is read: the coders are what holds the
// frames back, so the reader makes the next picture itself (the colour conversion a source left
// for later) rather than wait for room. Once the coders catch up, pictures are left to them again.
bool FramePipeline::CodersBehind() {
  std::lock_guard lock(mutex_);
  return !pictures_.empty();
}

void FramePipeline::CodeFrames(std::stop_token stop) {
  try {
    const Coder code = makeCoder_();
    while (true) {
      std::optional<std::pair<uint32_t, std::optional<SourcePicture>>> work;
      {
        std::unique_lock lock(mutex_);
        if (!pictureWaiting_.wait(lock, stop, [&] { return !pictures_.empty() || readingDone_ || failure_; })) return;
        if (failure_ || pictures_.empty()) return;
        work.emplace(std::move(pictures_.front()));
        pictures_.pop_front();
      }
      SourcePicture::AtSize picture{true, std::nullopt, std::nullopt};
      if (work->second) picture = std::move(*work->second).TakeAt(target_.width, target_.height, target_.scaling);
      Frame frame;
      frame.pictureMissing = picture.missing;
      if (picture.scaled) frame.coded = code(*picture.scaled);
      if (picture.whole && giveBack_) giveBack_(std::move(*picture.whole));
      {
        std::lock_guard lock(mutex_);
        frames_.emplace(work->first, std::move(frame));
      }
      frameCoded_.notify_one();
    }
  } catch (...) {
    Fail(std::current_exception());
  }
}

Result<FramePipeline::Frame> FramePipeline::Next() {
  std::unique_lock lock(mutex_);
  const auto failedHere = [this] { return readError_ && readError_->first == nextFrame_; };
  frameCoded_.wait(lock, [&] { return frames_.contains(nextFrame_) || failure_ || failedHere(); });
  if (failure_) std::rethrow_exception(failure_);
  if (failedHere()) return readError_->second;
  auto node = frames_.extract(nextFrame_);
  ++nextFrame_;
  lock.unlock();
  roomToRead_.notify_one();
  return std::move(node.mapped());
}

}  // namespace reel
