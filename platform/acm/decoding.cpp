#include "platform/acm/decoding.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace reel::acm {

DecodeLoop::DecodeLoop(AVCodecContext* context, Resampler& resampler, OutputSink& sink)
    : context_(context), resampler_(resampler), sink_(sink), packet_(av_packet_alloc()), frame_(av_frame_alloc()) {}

void DecodeLoop::Send(const uint8_t* data, std::size_t size) {
  if (data == nullptr) {
    avcodec_send_packet(context_, nullptr);
  } else {
    packet_->data = const_cast<uint8_t*>(data);
    packet_->size = static_cast<int>(size);
    const int sent = avcodec_send_packet(context_, packet_.get());
    packet_->data = nullptr;
    packet_->size = 0;
    if (sent < 0 && sent != AVERROR(EAGAIN)) return;
  }
  Receive();
}

void DecodeLoop::Receive() {
  while (avcodec_receive_frame(context_, frame_.get()) == 0) {
    resampler_.Feed(frame_->extended_data, frame_->nb_samples, frame_->ch_layout,
                    static_cast<AVSampleFormat>(frame_->format), frame_->sample_rate, sink_);
    av_frame_unref(frame_.get());
  }
}

void ParseAndDecode(AVCodecContext* context, std::span<const uint8_t> data, DecodeLoop& loop) {
  ParserPtr parser(av_parser_init(context->codec_id));
  if (!parser) return;
  // The parser reads a little past the bytes it is given, so it works on a padded copy.
  std::vector<uint8_t> padded(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::copy(data.begin(), data.end(), padded.begin());
  const uint8_t* position = padded.data();
  std::size_t remaining = data.size();
  for (bool draining = false;;) {
    uint8_t* frame = nullptr;
    int frameSize = 0;
    const int step = static_cast<int>(std::min(remaining, kParseStep));
    const int used = av_parser_parse2(parser.get(), context, &frame, &frameSize, draining ? nullptr : position,
                                      draining ? 0 : step, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (used < 0) break;
    if (frameSize > 0) loop.Send(frame, static_cast<std::size_t>(frameSize));
    if (draining) {
      if (frameSize == 0) break;
      continue;
    }
    position += used;
    remaining -= static_cast<std::size_t>(used);
    if (remaining == 0) draining = true;
  }
}

void DecodeWhole(std::span<const uint8_t> data, DecodeLoop& loop) {
  if (data.empty() || data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return;
  std::vector<uint8_t> padded(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::copy(data.begin(), data.end(), padded.begin());
  loop.Send(padded.data(), data.size());
}

void ChunkAndDecode(const WAVEFORMATEX& source, AVCodecID codec, std::span<const uint8_t> data, DecodeLoop& loop) {
  const std::size_t packetBytes = PacketBytes(source, codec);
  for (std::size_t offset = 0; offset < data.size(); offset += packetBytes) {
    std::size_t length = std::min(packetBytes, data.size() - offset);
    if (TakesWholeBlocksOnly(codec)) length -= length % source.blockAlign;
    if (length > 0) loop.Send(data.data() + offset, length);
  }
}

}  // namespace reel::acm
