// The resampling stage of the whole-buffer audio conversion: whatever the decoder delivers (planar
// or packed, any sample type, any channel layout, any rate) becomes packed PCM of the destination's
// width, channel count and rate, written into a growing destination. Its tail is flushed at the
// end so the last samples of the track are not lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "platform/acm/acm_stream.h"
#include "platform/acm/codec_choice.h"

namespace reel::acm {

// ACM counts bytes in 32 bits; no conversion produces more than that.
inline constexpr std::size_t kLargestOutput = std::numeric_limits<uint32_t>::max();
// Samples per resampler call when the source is PCM already.
inline constexpr std::size_t kPcmChunkFrames = 65536;

// Writes converted bytes into the destination from its start, growing it when needed.
class OutputSink {
 public:
  explicit OutputSink(std::vector<uint8_t>& destination) : destination_(destination) {}

  // Room for `bytes` more at the write position; nothing when the 32-bit limit would be passed.
  uint8_t* Reserve(std::size_t bytes) {
    if (bytes > kLargestOutput - passed_ - produced_) return nullptr;
    if (destination_.size() < produced_ + bytes) destination_.resize(produced_ + bytes);
    return destination_.data() + produced_;
  }
  void Commit(std::size_t bytes) { produced_ += bytes; }
  std::size_t Produced() const { return passed_ + produced_; }

  // Hands what was written so far to `output` and writes from the start of the destination again.
  void PassOn(const AcmStream::Output& output) {
    if (produced_ == 0) return;
    output(std::span<const uint8_t>(destination_.data(), produced_));
    passed_ += produced_;
    produced_ = 0;
  }

 private:
  std::vector<uint8_t>& destination_;
  std::size_t produced_ = 0;
  std::size_t passed_ = 0;  // bytes already handed on
};

// The resampler for one input shape; rebuilt when the decoder's output shape changes mid-stream.
// Two channels become one at half the sum each, one becomes two at full level on both sides.
class Resampler {
 public:
  explicit Resampler(const WAVEFORMATEX& destination);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Feeds `frames` input frames of the given shape. Returns false when the shape is unusable.
  bool Feed(const uint8_t* const* planes, int frames, const AVChannelLayout& layout, AVSampleFormat format,
            int rate, OutputSink& sink);

  void Flush(OutputSink& sink);

 private:
  bool Matches(const AVChannelLayout& layout, AVSampleFormat format, int rate) const;
  bool Build(const AVChannelLayout& layout, AVSampleFormat format, int rate);
  void SetPlainChannelMatrix(SwrContext* context) const;
  bool Run(const uint8_t** planes, int frames, OutputSink& sink);

  WAVEFORMATEX destination_;
  AVChannelLayout outLayout_{};
  AVChannelLayout inLayout_{};
  AVSampleFormat inFormat_ = AV_SAMPLE_FMT_NONE;
  int inRate_ = 0;
  ResamplerPtr context_;
};

// Feeds `frames` frames of plain PCM in the `source` format, starting at `data`, to the resampler.
// Returns false when the resampler refuses them.
bool FeedPcm(Resampler& resampler, const WAVEFORMATEX& source, const uint8_t* data, std::size_t frames,
             OutputSink& sink);

// A whole buffer of plain PCM, in chunks of kPcmChunkFrames from its start.
void ConvertPlainPcm(const WAVEFORMATEX& source, std::span<const uint8_t> data, Resampler& resampler,
                     OutputSink& sink);

}  // namespace reel::acm
