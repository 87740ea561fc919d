// Whole-buffer audio conversion on libavcodec and libswresample.
//
// PCM sources of 8 or 16 bits go straight to the resampler; every other source is first decoded by
// the libavcodec decoder that its format tag names. MPEG audio and AC-3 are cut into frames by the
// codec's parser, since a stream header gives no frame size for them; block codecs (ADPCM) get one
// block per packet and sample codecs (A-law, mu-law, float) a run of whole blocks. Any other codec
// the libraries know for the tag is cut by its parser when its frames carry headers, by block when
// it has blocks, and otherwise (raw AAC frames) handed over whole, the decoder taking one frame
// after another. The resampler
// then brings whatever the decoder delivers (planar or packed, any sample type, any layout) to
// packed PCM of the destination's width, channel count and rate, and its tail is flushed at the
// end so the last samples of the track are not lost.
#include "platform/acm/acm_stream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

namespace reel {
namespace {

// Rates outside this range are refused: they come only from damaged headers, and a huge ratio
// between two rates would ask for an absurd amount of memory.
constexpr uint32_t kLowestRate = 1000;
constexpr uint32_t kHighestRate = 192000;
// 8 kbit/s: no codec the converter decodes has a lower data rate.
constexpr uint32_t kLowestCodedByteRate = 1000;
// ACM counts bytes in 32 bits; no conversion produces more than that.
constexpr std::size_t kLargestOutput = std::numeric_limits<uint32_t>::max();
// Samples per resampler call when the source is PCM already.
constexpr std::size_t kPcmChunkFrames = 65536;
// Bytes per packet for sample codecs whose blocks are tiny (A-law, mu-law, float).
constexpr std::size_t kSampleCodecPacketBytes = 16384;

bool IsPlainPcm(const WAVEFORMATEX& format) {
  return format.formatTag == kWaveFormatPcm && (format.bitsPerSample == 8 || format.bitsPerSample == 16);
}

bool RateAllowed(uint32_t rate) { return rate >= kLowestRate && rate <= kHighestRate; }

bool IsUsableDestination(const WAVEFORMATEX& format) {
  return IsPlainPcm(format) && (format.channels == 1 || format.channels == 2) &&
         RateAllowed(format.samplesPerSec);
}

std::size_t FrameBytes(const WAVEFORMATEX& format) {
  return static_cast<std::size_t>(format.channels) * (format.bitsPerSample / 8u);
}

AVSampleFormat PcmSampleFormat(uint16_t bits) { return bits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16; }

// The tag a format really has: an extensible record names its sub-format in the first two bytes
// of the GUID that follows the valid-bits and channel-mask fields.
uint16_t EffectiveTag(const AudioFormat& format) {
  if (format.wave.formatTag != kWaveFormatExtensible || format.extra.size() < 22) return format.wave.formatTag;
  return static_cast<uint16_t>(format.extra[6] | (format.extra[7] << 8));
}

AVCodecID DecoderFor(const AudioFormat& format) {
  const uint16_t bits = format.wave.bitsPerSample;
  switch (EffectiveTag(format)) {
    case kWaveFormatPcm:
      if (bits == 24) return AV_CODEC_ID_PCM_S24LE;
      if (bits == 32) return AV_CODEC_ID_PCM_S32LE;
      return AV_CODEC_ID_NONE;
    case kWaveFormatIeeeFloat:
      if (bits == 32) return AV_CODEC_ID_PCM_F32LE;
      if (bits == 64) return AV_CODEC_ID_PCM_F64LE;
      return AV_CODEC_ID_NONE;
    case kWaveFormatMsAdpcm: return AV_CODEC_ID_ADPCM_MS;
    case kWaveFormatImaAdpcm: return AV_CODEC_ID_ADPCM_IMA_WAV;
    case kWaveFormatAlaw: return AV_CODEC_ID_PCM_ALAW;
    case kWaveFormatMulaw: return AV_CODEC_ID_PCM_MULAW;
    case kWaveFormatMpeg: return AV_CODEC_ID_MP2;
    case kWaveFormatMpegLayer3: return AV_CODEC_ID_MP3;
    case kWaveFormatAc3: return AV_CODEC_ID_AC3;
    default: break;
  }
  // Any other tag: whatever decoder the media libraries register for it (AAC, WMA, GSM, ...).
  const AVCodecTag* const tags[] = {avformat_get_riff_audio_tags(), nullptr};
  const AVCodecID codec = av_codec_get_id(tags, EffectiveTag(format));
  return avcodec_find_decoder(codec) != nullptr ? codec : AV_CODEC_ID_NONE;
}


bool IsSampleCodec(AVCodecID codec) {
  return codec == AV_CODEC_ID_PCM_ALAW || codec == AV_CODEC_ID_PCM_MULAW || codec == AV_CODEC_ID_PCM_S24LE ||
         codec == AV_CODEC_ID_PCM_S32LE || codec == AV_CODEC_ID_PCM_F32LE || codec == AV_CODEC_ID_PCM_F64LE;
}

struct CodecContextDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct ParserDeleter {
  void operator()(AVCodecParserContext* parser) const { av_parser_close(parser); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct ResamplerDeleter {
  void operator()(SwrContext* context) const { swr_free(&context); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;

// Tags the switch above names; their decoders are fed as they always were.
bool IsNamedCodec(AVCodecID codec) {
  switch (codec) {
    case AV_CODEC_ID_PCM_S24LE: case AV_CODEC_ID_PCM_S32LE: case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F64LE: case AV_CODEC_ID_ADPCM_MS: case AV_CODEC_ID_ADPCM_IMA_WAV:
    case AV_CODEC_ID_PCM_ALAW: case AV_CODEC_ID_PCM_MULAW: case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3: case AV_CODEC_ID_AC3:
      return true;
    default:
      return false;
  }
}

// How the bytes of a soundtrack read whole reach the decoder.
enum class Framing {
  kParser,  // cut into frames by the codec's parser (frames that carry their own headers)
  kBlocks,  // one block (block align bytes) per packet, or runs of blocks for sample codecs
  kWhole,   // all in one packet: the decoder takes frame after frame from it
};

Framing FramingFor(const AudioFormat& format, AVCodecID codec) {
  if (codec == AV_CODEC_ID_MP2 || codec == AV_CODEC_ID_MP3 || codec == AV_CODEC_ID_AC3) return Framing::kParser;
  if (IsNamedCodec(codec)) return Framing::kBlocks;
  // Raw frames of a codec whose set-up travels in the format's codec data (AAC with its
  // configuration) have no headers to cut them by; frames with headers (ADTS AAC) do.
  if (format.extra.empty()) {
    if (ParserPtr parser(av_parser_init(codec)); parser) return Framing::kParser;
  }
  if (format.wave.blockAlign > 1 && codec != AV_CODEC_ID_AAC) return Framing::kBlocks;
  return Framing::kWhole;
}

// A decoder opened for the source format, or null when none exists or it refuses the parameters.
CodecContextPtr OpenDecoder(const AudioFormat& source, AVCodecID codecId) {
  // A damaged stream is reported as a failed conversion; the decoder's own messages would only
  // interleave with the program's.
  av_log_set_level(AV_LOG_QUIET);
  const AVCodec* codec = avcodec_find_decoder(codecId);
  if (codec == nullptr) return nullptr;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return nullptr;
  context->sample_rate = static_cast<int>(source.wave.samplesPerSec);
  av_channel_layout_default(&context->ch_layout, source.wave.channels);
  context->block_align = source.wave.blockAlign;
  context->bits_per_coded_sample = source.wave.bitsPerSample;
  context->bit_rate = static_cast<int64_t>(source.wave.avgBytesPerSec) * 8;
  if (!source.extra.empty()) {
    context->extradata = static_cast<uint8_t*>(av_mallocz(source.extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (context->extradata == nullptr) return nullptr;
    std::memcpy(context->extradata, source.extra.data(), source.extra.size());
    context->extradata_size = static_cast<int>(source.extra.size());
  }
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
  return context;
}

bool SourceIsConvertible(const AudioFormat& source) {
  const WAVEFORMATEX& wave = source.wave;
  if (!RateAllowed(wave.samplesPerSec)) return false;
  if (IsPlainPcm(wave)) return wave.channels == 1 || wave.channels == 2;
  if (wave.channels == 0 || wave.channels > 8) return false;
  const AVCodecID codec = DecoderFor(source);
  if (codec == AV_CODEC_ID_NONE) return false;
  if (FramingFor(source, codec) == Framing::kBlocks && wave.blockAlign == 0) return false;
  return OpenDecoder(source, codec) != nullptr;
}

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
class Resampler {
 public:
  explicit Resampler(const WAVEFORMATEX& destination) : destination_(destination) {
    av_channel_layout_default(&outLayout_, destination.channels);
  }
  ~Resampler() {
    av_channel_layout_uninit(&outLayout_);
    av_channel_layout_uninit(&inLayout_);
  }
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Feeds `frames` input frames of the given shape. Returns false when the shape is unusable.
  bool Feed(const uint8_t* const* planes, int frames, const AVChannelLayout& layout, AVSampleFormat format,
            int rate, OutputSink& sink) {
    if (!Matches(layout, format, rate)) {
      Flush(sink);
      if (!Build(layout, format, rate)) return false;
    }
    return Run(const_cast<const uint8_t**>(planes), frames, sink);
  }

  void Flush(OutputSink& sink) {
    if (context_) Run(nullptr, 0, sink);
  }

 private:
  bool Matches(const AVChannelLayout& layout, AVSampleFormat format, int rate) const {
    return context_ && format == inFormat_ && rate == inRate_ && av_channel_layout_compare(&layout, &inLayout_) == 0;
  }

  bool Build(const AVChannelLayout& layout, AVSampleFormat format, int rate) {
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

  // Two channels become one at half the sum each, one becomes two at full level on both sides;
  // the library's default would lower a copied mono channel by 3 dB.
  void SetPlainChannelMatrix(SwrContext* context) const {
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

  bool Run(const uint8_t** planes, int frames, OutputSink& sink) {
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

  WAVEFORMATEX destination_;
  AVChannelLayout outLayout_{};
  AVChannelLayout inLayout_{};
  AVSampleFormat inFormat_ = AV_SAMPLE_FMT_NONE;
  int inRate_ = 0;
  ResamplerPtr context_;
};

void ConvertPlainPcm(const WAVEFORMATEX& source, std::span<const uint8_t> data, Resampler& resampler,
                     OutputSink& sink) {
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, source.channels);
  const std::size_t frameBytes = FrameBytes(source);
  const std::size_t frames = data.size() / frameBytes;
  for (std::size_t done = 0; done < frames;) {
    const std::size_t count = std::min(kPcmChunkFrames, frames - done);
    const uint8_t* plane = data.data() + done * frameBytes;
    if (!resampler.Feed(&plane, static_cast<int>(count), layout, PcmSampleFormat(source.bitsPerSample),
                        static_cast<int>(source.samplesPerSec), sink)) {
      break;
    }
    done += count;
  }
  av_channel_layout_uninit(&layout);
}

// Decodes packets and hands every decoded frame to the resampler.
class DecodeLoop {
 public:
  DecodeLoop(AVCodecContext* context, Resampler& resampler, OutputSink& sink)
      : context_(context), resampler_(resampler), sink_(sink), packet_(av_packet_alloc()), frame_(av_frame_alloc()) {}

  bool Ready() const { return packet_ && frame_; }

  // Sends one packet (null data at the end drains the decoder). A packet the decoder rejects is
  // skipped, as a damaged block would be.
  void Send(const uint8_t* data, std::size_t size) {
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

 private:
  void Receive() {
    while (avcodec_receive_frame(context_, frame_.get()) == 0) {
      resampler_.Feed(frame_->extended_data, frame_->nb_samples, frame_->ch_layout,
                      static_cast<AVSampleFormat>(frame_->format), frame_->sample_rate, sink_);
      av_frame_unref(frame_.get());
    }
  }

  AVCodecContext* context_;
  Resampler& resampler_;
  OutputSink& sink_;
  PacketPtr packet_;
  FramePtr frame_;
};

// Bytes the parser is given per call.
constexpr std::size_t kParseStep = 1 << 20;

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

// One packet holding the whole soundtrack, on a padded copy; the decoder takes one frame after
// another from it.
void DecodeWhole(std::span<const uint8_t> data, DecodeLoop& loop) {
  if (data.empty() || data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return;
  std::vector<uint8_t> padded(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::copy(data.begin(), data.end(), padded.begin());
  loop.Send(padded.data(), data.size());
}

void ChunkAndDecode(const WAVEFORMATEX& source, AVCodecID codec, std::span<const uint8_t> data, DecodeLoop& loop) {
  const std::size_t blockBytes = source.blockAlign;
  std::size_t packetBytes = blockBytes;
  if (IsSampleCodec(codec)) packetBytes = std::max<std::size_t>(1, kSampleCodecPacketBytes / blockBytes) * blockBytes;
  for (std::size_t offset = 0; offset < data.size(); offset += packetBytes) {
    std::size_t length = std::min(packetBytes, data.size() - offset);
    // Sample codecs take whole blocks only; a block coder gets a cut-short last block and decodes
    // what it can of it.
    if (IsSampleCodec(codec)) length -= length % blockBytes;
    if (length > 0) loop.Send(data.data() + offset, length);
  }
}

// A conversion over a source that arrives in pieces. It makes exactly the calls the whole-buffer
// conversion makes, in the same order and over the same bytes (PCM in chunks of kPcmChunkFrames
// from the start, one block per packet, the parser's steps of kParseStep with real bytes past each
// step), so the output is the same; it holds back only what the next call needs.
class PieceConverter {
 public:
  PieceConverter(const AudioFormat& source, const WAVEFORMATEX& destination, AVCodecID codec, AcmStream::Output output)
      : source_(source.wave), codec_(codec), output_(std::move(output)), resampler_(destination) {
    if (codec_ == AV_CODEC_ID_NONE) return;
    context_ = OpenDecoder(source, codec_);
    if (!context_) return;
    loop_.emplace(context_.get(), resampler_, sink_);
    if (!loop_->Ready()) {
      loop_.reset();
      return;
    }
    framing_ = FramingFor(source, codec_);
    if (framing_ == Framing::kParser) parser_.reset(av_parser_init(context_->codec_id));
  }

  void Feed(std::span<const uint8_t> piece) {
    if (codec_ != AV_CODEC_ID_NONE && !loop_) return;  // no decoder: nothing is produced
    pending_.insert(pending_.end(), piece.begin(), piece.end());
    if (codec_ == AV_CODEC_ID_NONE) {
      FeedPcm(false);
    } else if (framing_ == Framing::kBlocks) {
      FeedBlocks(false);
    } else if (framing_ == Framing::kParser) {
      FeedParser(false);
    }
    Compact();
    sink_.PassOn(output_);
  }

  std::size_t Finish() {
    if (codec_ == AV_CODEC_ID_NONE) {
      FeedPcm(true);
    } else {
      if (!loop_) return 0;
      switch (framing_) {
        case Framing::kParser: FeedParser(true); break;
        case Framing::kBlocks: FeedBlocks(true); break;
        case Framing::kWhole: DecodeWhole(Pending(), *loop_); break;
      }
      loop_->Send(nullptr, 0);
    }
    resampler_.Flush(sink_);
    sink_.PassOn(output_);
    pending_.clear();
    start_ = 0;
    return sink_.Produced();
  }

 private:
  std::span<const uint8_t> Pending() const {
    return std::span<const uint8_t>(pending_).subspan(start_);
  }

  void Compact() {
    if (start_ < kParseStep) return;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }

  // Whole chunks of kPcmChunkFrames; at the end the whole frames left.
  void FeedPcm(bool last) {
    const std::size_t frameBytes = FrameBytes(source_);
    const std::size_t chunkBytes = kPcmChunkFrames * frameBytes;
    while (Pending().size() >= chunkBytes || (last && Pending().size() >= frameBytes)) {
      const std::size_t frames = std::min(kPcmChunkFrames, Pending().size() / frameBytes);
      if (!pcmFailed_) {
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, source_.channels);
        const uint8_t* plane = Pending().data();
        pcmFailed_ = !resampler_.Feed(&plane, static_cast<int>(frames), layout, PcmSampleFormat(source_.bitsPerSample),
                                      static_cast<int>(source_.samplesPerSec), sink_);
        av_channel_layout_uninit(&layout);
      }
      start_ += frames * frameBytes;
    }
  }

  void FeedBlocks(bool last) {
    const std::size_t blockBytes = source_.blockAlign;
    std::size_t packetBytes = blockBytes;
    if (IsSampleCodec(codec_)) packetBytes = std::max<std::size_t>(1, kSampleCodecPacketBytes / blockBytes) * blockBytes;
    while (Pending().size() >= packetBytes || (last && !Pending().empty())) {
      std::size_t length = std::min(packetBytes, Pending().size());
      const std::size_t taken = length;
      if (IsSampleCodec(codec_)) length -= length % blockBytes;
      if (length > 0) loop_->Send(Pending().data(), length);
      start_ += taken;
    }
  }

  // The parser's calls as the whole-buffer loop makes them. Before the end a step is taken only
  // when the bytes past it are there too, so the parser reads the bytes it would have read.
  void FeedParser(bool last) {
    if (!parser_) return;
    if (!last) {
      while (Pending().size() >= kParseStep + AV_INPUT_BUFFER_PADDING_SIZE) {
        if (!ParseOnce(kParseStep, false)) return;
      }
      return;
    }
    const std::size_t remaining = Pending().size();
    pending_.resize(pending_.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::size_t left = remaining;
    for (bool draining = false;;) {
      const std::size_t step = std::min(left, kParseStep);
      const int used = ParseCall(draining ? nullptr : pending_.data() + start_, draining ? 0 : step);
      if (used < 0) break;
      if (draining) {
        if (lastFrameSize_ == 0) break;
        continue;
      }
      start_ += static_cast<std::size_t>(used);
      left -= static_cast<std::size_t>(used);
      if (left == 0) draining = true;
    }
  }

  bool ParseOnce(std::size_t step, bool /*draining*/) {
    const int used = ParseCall(Pending().data(), step);
    if (used < 0) {
      parser_.reset();  // the whole-buffer loop stops here too
      return false;
    }
    start_ += static_cast<std::size_t>(used);
    return true;
  }

  int ParseCall(const uint8_t* data, std::size_t size) {
    uint8_t* frame = nullptr;
    int frameSize = 0;
    const int used = av_parser_parse2(parser_.get(), context_.get(), &frame, &frameSize, data, static_cast<int>(size),
                                      AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    lastFrameSize_ = frameSize;
    if (used >= 0 && frameSize > 0) loop_->Send(frame, static_cast<std::size_t>(frameSize));
    return used;
  }

  WAVEFORMATEX source_;
  AVCodecID codec_;
  AcmStream::Output output_;
  std::vector<uint8_t> scratch_;
  OutputSink sink_{scratch_};
  Resampler resampler_;
  CodecContextPtr context_;
  std::optional<DecodeLoop> loop_;
  ParserPtr parser_;
  Framing framing_ = Framing::kWhole;
  std::vector<uint8_t> pending_;
  std::size_t start_ = 0;
  bool pcmFailed_ = false;
  int lastFrameSize_ = 0;
};

}  // namespace

struct AcmStream::State {
  AudioFormat source;
  WAVEFORMATEX destination;
  AVCodecID codec = AV_CODEC_ID_NONE;  // none: the source is plain PCM
  std::unique_ptr<PieceConverter> pieces;
};

uint32_t AcmFormatSuggest(const AudioFormat& source, WAVEFORMATEX& destination, uint32_t flags) {
  if ((flags & ~kAcmFormatSuggestTag) != 0) return kAcmBadFlags;
  if ((flags & kAcmFormatSuggestTag) != 0 && destination.formatTag != kWaveFormatPcm) return kAcmNoConversion;
  if (!SourceIsConvertible(source)) return kAcmNoConversion;
  const uint16_t channels = std::min<uint16_t>(source.wave.channels, 2);
  destination = PcmWaveFormat(source.wave.samplesPerSec, channels, 16);
  return kAcmOk;
}

std::optional<AcmStream> AcmStream::Open(const AudioFormat& source, const WAVEFORMATEX& destination,
                                         uint32_t /*flags*/) {
  if (!IsUsableDestination(destination) || !SourceIsConvertible(source)) return std::nullopt;
  auto state = std::make_unique<State>();
  state->source = source;
  state->destination = destination;
  if (!IsPlainPcm(source.wave)) state->codec = DecoderFor(source);
  return AcmStream(std::move(state));
}

AcmStream::AcmStream(std::unique_ptr<State> state) : state_(std::move(state)) {}
AcmStream::AcmStream(AcmStream&&) noexcept = default;
AcmStream& AcmStream::operator=(AcmStream&&) noexcept = default;
AcmStream::~AcmStream() = default;

// Every conversion starts from fresh decoder and resampler state, so there is nothing to forget.
void AcmStream::Reset() {}

std::size_t AcmStream::DestinationSize(std::size_t sourceLength) const {
  const WAVEFORMATEX& source = state_->source.wave;
  const WAVEFORMATEX& destination = state_->destination;
  const uint64_t destinationRate = static_cast<uint64_t>(destination.samplesPerSec) * FrameBytes(destination);
  uint64_t bytes = 0;
  if (state_->codec == AV_CODEC_ID_NONE) {
    const uint64_t frames = sourceLength / FrameBytes(source);
    const uint64_t outFrames = (frames * destination.samplesPerSec + source.samplesPerSec - 1) / source.samplesPerSec;
    bytes = outFrames * FrameBytes(destination);
  } else if (source.avgBytesPerSec != 0) {
    // The header's data rate is taken no lower than any codec goes, so a damaged header cannot
    // ask for a huge block.
    const uint64_t sourceRate = std::max(source.avgBytesPerSec, kLowestCodedByteRate);
    bytes = (static_cast<uint64_t>(sourceLength) * destinationRate + sourceRate - 1) / sourceRate;
  } else {
    // No data rate in the header: guess a compression of 4 to 1 against 16-bit PCM at the source's
    // shape. The conversion grows its block if the guess is short.
    bytes = static_cast<uint64_t>(sourceLength) * 4 * destinationRate /
            (static_cast<uint64_t>(source.samplesPerSec) * source.channels * 2);
  }
  return static_cast<std::size_t>(std::min<uint64_t>(bytes, kLargestOutput));
}

std::size_t AcmStream::Convert(std::span<const uint8_t> source, std::vector<uint8_t>& destination) {
  OutputSink sink(destination);
  Resampler resampler(state_->destination);
  if (state_->codec == AV_CODEC_ID_NONE) {
    ConvertPlainPcm(state_->source.wave, source, resampler, sink);
  } else {
    CodecContextPtr context = OpenDecoder(state_->source, state_->codec);
    if (!context) return 0;
    DecodeLoop loop(context.get(), resampler, sink);
    if (!loop.Ready()) return 0;
    switch (FramingFor(state_->source, state_->codec)) {
      case Framing::kParser: ParseAndDecode(context.get(), source, loop); break;
      case Framing::kBlocks: ChunkAndDecode(state_->source.wave, state_->codec, source, loop); break;
      case Framing::kWhole: DecodeWhole(source, loop); break;
    }
    loop.Send(nullptr, 0);
  }
  resampler.Flush(sink);
  return sink.Produced();
}

}  // namespace reel

namespace reel {

void AcmStream::Begin(Output output) {
  state_->pieces = std::make_unique<PieceConverter>(state_->source, state_->destination, state_->codec, std::move(output));
}

void AcmStream::Feed(std::span<const uint8_t> piece) {
  if (state_->pieces) state_->pieces->Feed(piece);
}

std::size_t AcmStream::Finish() {
  if (!state_->pieces) return 0;
  const std::size_t produced = state_->pieces->Finish();
  state_->pieces.reset();
  return produced;
}

}  // namespace reel
