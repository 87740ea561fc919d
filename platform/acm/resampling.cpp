#include "platform/acm/resampling.h"

#include <algorithm>
#include <array>
#include <utility>

namespace reel::acm {

Resampler::Resampler(const WAVEFORMATEX& destination) : destination_(destination) {
  av_channel_layout_default(&outLayout_, destination.channels);
}

Resampler::~Resampler() {
  av_channel_layout_uninit(&outLayout_);
  av_channel_layout_uninit(&inLayout_);
}

bool Resampler::Feed(const uint8_t* const* planes, int frames, const AVChannelLayout& layout, AVSampleFormat format,
                     int rate, OutputSink& sink) {
  if (!Matches(layout, format, rate)) {
    Flush(sink);
    if (!Build(layout, format, rate)) return false;
  }
  return Run(const_cast<const uint8_t**>(planes), frames, sink);
}

void Resampler::Flush(OutputSink& sink) {
  if (context_) Run(nullptr, 0, sink);
}

bool Resampler::Matches(const AVChannelLayout& layout, AVSampleFormat format, int rate) const {
  return context_ && format == inFormat_ && rate == inRate_ && av_channel_layout_compare(&layout, &inLayout_) == 0;
}

bool Resampler::Build(const AVChannelLayout& layout, AVSampleFormat format, int rate) {
  context_.reset();
  av_channel_layout_uninit(&inLayout_);
  if (layout.order == AV_CHANNEL_ORDER_UNSPEC || layout.order == AV_CHANNEL_ORDER_CUSTOM) {
    av_channel_layout_default(&inLayout_, layout.nb_channels);
  } else if (av_channel_layout_copy(&inLayout_, &layout) < 0) {
    return false;
  }
  if (inLayout_.nb_channels <= 0 || rate <= 0) return false;
  SwrContext* raw = nullptr;
  if (swr_alloc_set_opts2(&raw, &outLayout_, PcmSampleFormat(destination_.bitsPerSample),
                          static_cast<int>(destination_.samplesPerSec), &inLayout_, format, rate, 0, nullptr) < 0) {
    return false;
  }
  ResamplerPtr context(raw);
  SetPlainChannelMatrix(context.get());
  if (swr_init(context.get()) < 0) return false;
  context_ = std::move(context);
  inFormat_ = format;
  inRate_ = rate;
  return true;
}

// The library's default would lower a copied mono channel by 3 dB.
void Resampler::SetPlainChannelMatrix(SwrContext* context) const {
  const int in = inLayout_.nb_channels;
  const int out = destination_.channels;
  if (in == 1 && out == 2) {
    const std::array<double, 2> matrix = {1.0, 1.0};
    swr_set_matrix(context, matrix.data(), 1);
  } else if (in == 2 && out == 1) {
    const std::array<double, 2> matrix = {0.5, 0.5};
    swr_set_matrix(context, matrix.data(), 2);
  }
}

bool Resampler::Run(const uint8_t** planes, int frames, OutputSink& sink) {
  const int room = swr_get_out_samples(context_.get(), frames);
  if (room <= 0) return true;
  const std::size_t frameBytes = FrameBytes(destination_);
  uint8_t* out = sink.Reserve(static_cast<std::size_t>(room) * frameBytes);
  if (out == nullptr) return false;
  const int made = swr_convert(context_.get(), &out, room, planes, frames);
  if (made < 0) return false;
  sink.Commit(static_cast<std::size_t>(made) * frameBytes);
  return true;
}

bool FeedPcm(Resampler& resampler, const WAVEFORMATEX& source, const uint8_t* data, std::size_t frames,
             OutputSink& sink) {
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, source.channels);
  const bool fed = resampler.Feed(&data, static_cast<int>(frames), layout, PcmSampleFormat(source.bitsPerSample),
                                  static_cast<int>(source.samplesPerSec), sink);
  av_channel_layout_uninit(&layout);
  return fed;
}

void ConvertPlainPcm(const WAVEFORMATEX& source, std::span<const uint8_t> data, Resampler& resampler,
                     OutputSink& sink) {
  const std::size_t frameBytes = FrameBytes(source);
  const std::size_t frames = data.size() / frameBytes;
  for (std::size_t done = 0; done < frames;) {
    const std::size_t count = std::min(kPcmChunkFrames, frames - done);
    if (!FeedPcm(resampler, source, data.data() + done * frameBytes, count, sink)) break;
    done += count;
  }
}

}  // namespace reel::acm
