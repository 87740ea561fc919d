// Soundtrack decoding on libavcodec and libswresample.
//
// The output format is fixed before the first packet, from the stream's parameters or the
// caller's request, and every decoded frame is resampled to it. A frame whose own format differs
// from what the stream declared (AAC with spectral band replication doubles its rate; some streams
// change layout mid-way) gets a resampler of its own, so the block stays in one format throughout.
#include "platform/mediagraph/soundtrack_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <limits>
#include <memory>

#include "platform/mediagraph/media_source.h"

namespace reel {
namespace {

constexpr uint64_t kMaxPcmBytes = std::numeric_limits<uint32_t>::max();
// The block is reserved up front from the stated duration, so a long track is not copied as it
// grows; a duration that a damaged header overstates is not trusted beyond this.
constexpr uint64_t kMaxReserveBytes = uint64_t{1} << 30;
constexpr int kProgressEveryPackets = 256;
constexpr uint16_t kWidestOutput = 2;
// A decoder that reports this many failed frames in a row without asking for input is stuck.
constexpr int kFailuresInARow = 64;

struct CodecDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ResamplerDeleter {
  void operator()(SwrContext* context) const { swr_free(&context); }
};

PcmFormat MakePcmFormat(uint32_t rate, uint16_t channels) {
  PcmFormat format;
  format.channels = channels;
  format.samplesPerSec = rate;
  format.blockAlign = static_cast<uint16_t>(channels * 2);
  format.avgBytesPerSec = rate * format.blockAlign;
  return format;
}

struct OpenedTrack {
  std::unique_ptr<MediaSource> source;
  int stream = -1;
  const AVCodec* codec = nullptr;
};

Result<std::optional<OpenedTrack>> OpenTrack(const std::string& path, const SoundtrackLimits& limits) {
  auto source = MediaSource::Open(path, limits.quietFor);
  if (!source) return source.error();
  AVFormatContext* context = (*source)->Context();
  const AVCodec* codec = nullptr;
  const int stream = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (stream == AVERROR_STREAM_NOT_FOUND) return std::optional<OpenedTrack>();
  if (stream < 0 || codec == nullptr) {
    return MakeError(ErrorKind::kUnsupported, path, "no decoder for its soundtrack");
  }
  const AVCodecParameters& parameters = *context->streams[stream]->codecpar;
  if (parameters.sample_rate <= 0 || parameters.ch_layout.nb_channels <= 0) {
    return MakeError(ErrorKind::kDamaged, path, "its soundtrack has no readable rate or channel count");
  }
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    context->streams[i]->discard = static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  return std::optional<OpenedTrack>(OpenedTrack{std::move(*source), stream, codec});
}

PcmFormat DefaultFormat(const AVCodecParameters& parameters) {
  const auto channels = static_cast<uint16_t>(std::min<int>(parameters.ch_layout.nb_channels, kWidestOutput));
  return MakePcmFormat(static_cast<uint32_t>(parameters.sample_rate), channels);
}

// Decodes and resamples one track into a growing PCM block.
class TrackDecoder {
 public:
  TrackDecoder(std::string path, PcmFormat format) : path_(std::move(path)), format_(format) {
    av_channel_layout_default(&outLayout_, format_.channels);
  }
  ~TrackDecoder() {
    av_channel_layout_uninit(&outLayout_);
    av_channel_layout_uninit(&inLayout_);
  }
  TrackDecoder(const TrackDecoder&) = delete;
  TrackDecoder& operator=(const TrackDecoder&) = delete;

  std::vector<uint8_t>& Data() { return data_; }

  // Converts one decoded frame and appends it.
  Status Append(const AVFrame& frame) {
    if (!MatchesInput(frame)) {
      if (Status flushed = Flush(); !flushed) return flushed;
      if (Status made = MakeResampler(frame); !made) return made;
    }
    return Convert(frame.extended_data, frame.nb_samples);
  }

  // Whatever the resampler still holds.
  Status Flush() {
    if (!resampler_) return {};
    return Convert(nullptr, 0);
  }

 private:
  bool MatchesInput(const AVFrame& frame) const {
    return resampler_ && frame.format == inFormat_ && frame.sample_rate == inRate_ &&
           av_channel_layout_compare(&frame.ch_layout, &inLayout_) == 0;
  }

  Status MakeResampler(const AVFrame& frame) {
    av_channel_layout_uninit(&inLayout_);
    if (av_channel_layout_copy(&inLayout_, &frame.ch_layout) < 0 || inLayout_.nb_channels <= 0) {
      return MakeError(ErrorKind::kDamaged, path_, "its soundtrack has a frame without channels");
    }
    if (inLayout_.order == AV_CHANNEL_ORDER_UNSPEC) {
      const int channels = inLayout_.nb_channels;
      av_channel_layout_uninit(&inLayout_);
      av_channel_layout_default(&inLayout_, channels);
    }
    inFormat_ = frame.format;
    inRate_ = frame.sample_rate;
    if (inRate_ <= 0) return MakeError(ErrorKind::kDamaged, path_, "its soundtrack has a frame without a rate");
    SwrContext* resampler = nullptr;
    if (swr_alloc_set_opts2(&resampler, &outLayout_, AV_SAMPLE_FMT_S16, static_cast<int>(format_.samplesPerSec),
                            &inLayout_, static_cast<AVSampleFormat>(inFormat_), inRate_, 0, nullptr) < 0 ||
        !KeepMonoLevel(resampler) || swr_init(resampler) < 0) {
      swr_free(&resampler);
      return MakeError(ErrorKind::kUnsupported, path_, "its soundtrack cannot be converted to 16-bit PCM");
    }
    resampler_.reset(resampler);
    return {};
  }

  // Mono made stereo is the same sample on both sides, at full level, as a PCM converter copies
  // it; the resampler's default would lower a lone centre channel by 3 dB on each side.
  bool KeepMonoLevel(SwrContext* resampler) const {
    if (inLayout_.nb_channels != 1 || outLayout_.nb_channels != 2) return true;
    const double bothSides[2] = {1.0, 1.0};  // one row per output channel, one input channel
    return swr_set_matrix(resampler, bothSides, 1) >= 0;
  }

  Status Convert(uint8_t* const* input, int samples) {
    const int room = swr_get_out_samples(resampler_.get(), samples);
    if (room < 0) return MakeError(ErrorKind::kDamaged, path_, "its soundtrack cannot be converted");
    if (room == 0) return {};
    const std::size_t before = data_.size();
    const std::size_t wanted = static_cast<std::size_t>(room) * format_.blockAlign;
    data_.resize(before + wanted);
    uint8_t* out[1] = {data_.data() + before};
    const int made = swr_convert(resampler_.get(), out, room, const_cast<const uint8_t**>(input), samples);
    if (made < 0) {
      data_.resize(before);
      return MakeError(ErrorKind::kDamaged, path_, "its soundtrack cannot be converted");
    }
    data_.resize(before + static_cast<std::size_t>(made) * format_.blockAlign);
    if (data_.size() > kMaxPcmBytes) {
      return MakeError(ErrorKind::kUnsupported, path_, "its soundtrack is longer than 4 GiB of 16-bit PCM");
    }
    return {};
  }

  std::string path_;
  PcmFormat format_;
  AVChannelLayout outLayout_{};
  AVChannelLayout inLayout_{};
  int inFormat_ = -1;
  int inRate_ = 0;
  std::unique_ptr<SwrContext, ResamplerDeleter> resampler_;
  std::vector<uint8_t> data_;
};

uint64_t ReserveBytes(const MediaSource& source, int stream, const PcmFormat& format) {
  const AVStream& audio = *source.Stream(stream);
  int64_t microseconds = 0;
  if (audio.duration > 0 && audio.duration != AV_NOPTS_VALUE) {
    microseconds = av_rescale_q(audio.duration, audio.time_base, AV_TIME_BASE_Q);
  } else if (source.Context()->duration > 0 && source.Context()->duration != AV_NOPTS_VALUE) {
    microseconds = source.Context()->duration;
  }
  const auto bytes = static_cast<uint64_t>(av_rescale(microseconds, format.avgBytesPerSec, AV_TIME_BASE)) + format.avgBytesPerSec;
  return std::min(bytes, kMaxReserveBytes);
}

double Share(const MediaSource& source, const AVPacket& packet) {
  const AVStream& stream = *source.Stream(packet.stream_index);
  const int64_t length = source.Context()->duration;
  if (packet.pts == AV_NOPTS_VALUE || length <= 0 || length == AV_NOPTS_VALUE) return 0.0;
  const int64_t start = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
  const int64_t at = av_rescale_q(packet.pts - start, stream.time_base, AV_TIME_BASE_Q);
  return std::clamp(static_cast<double>(at) / static_cast<double>(length), 0.0, 1.0);
}

}  // namespace

Result<std::optional<PcmFormat>> ProbeSoundtrack(const std::string& path, const SoundtrackLimits& limits) {
  auto track = OpenTrack(path, limits);
  if (!track) return track.error();
  if (!*track) return std::optional<PcmFormat>();
  const OpenedTrack& opened = **track;
  return std::optional<PcmFormat>(DefaultFormat(*opened.source->Stream(opened.stream)->codecpar));
}

Result<std::optional<DecodedSoundtrack>> ReadSoundtrack(const std::string& path, const PcmRequest& request,
                                                    const SoundtrackProgress& progress,
                                                    const SoundtrackLimits& limits) {
  if (request.channels > kWidestOutput) {
    return MakeError(ErrorKind::kUsage, path, "a soundtrack is read as mono or stereo");
  }
  auto track = OpenTrack(path, limits);
  if (!track) return track.error();
  if (!*track) return std::optional<DecodedSoundtrack>();
  OpenedTrack& opened = **track;
  MediaSource& source = *opened.source;
  const AVCodecParameters& parameters = *source.Stream(opened.stream)->codecpar;

  PcmFormat format = DefaultFormat(parameters);
  if (request.samplesPerSec != 0 || request.channels != 0) {
    format = MakePcmFormat(request.samplesPerSec != 0 ? request.samplesPerSec : format.samplesPerSec,
                           request.channels != 0 ? request.channels : format.channels);
  }

  std::unique_ptr<AVCodecContext, CodecDeleter> codec(avcodec_alloc_context3(opened.codec));
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  if (!codec || !frame || !packet) return MakeError(ErrorKind::kOutOfMemory, path, "out of memory");
  if (avcodec_parameters_to_context(codec.get(), &parameters) < 0) {
    return MakeError(ErrorKind::kDamaged, path, "its soundtrack parameters cannot be read");
  }
  codec->pkt_timebase = source.Stream(opened.stream)->time_base;
  if (const int started = avcodec_open2(codec.get(), opened.codec, nullptr); started < 0) {
    return MakeError(ErrorKind::kUnsupported, path,
                     std::string("its soundtrack decoder (") + opened.codec->name + ") does not start (" +
                         AvErrorText(started) + ")");
  }

  TrackDecoder decoder(path, format);
  decoder.Data().reserve(ReserveBytes(source, opened.stream, format));
  // Takes every frame the decoder has ready; frames that fail to decode are passed over.
  const auto drain = [&]() -> Status {
    for (int failures = 0; failures < kFailuresInARow;) {
      const int received = avcodec_receive_frame(codec.get(), frame.get());
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return {};
      if (received < 0) {
        ++failures;
        continue;
      }
      failures = 0;
      const Status appended = decoder.Append(*frame);
      av_frame_unref(frame.get());
      if (!appended) return appended;
    }
    return {};
  };
  for (int64_t packets = 0;; ++packets) {
    auto got = source.NextPacket(opened.stream, packet.get());
    if (!got) return got.error();
    if (!*got) break;
    if (progress && packets % kProgressEveryPackets == 0 && !progress(Share(source, *packet))) {
      return MakeError(ErrorKind::kStopped, path, "reading the soundtrack was stopped");
    }
    // A packet the decoder refuses is damaged; the sound goes on with the next one.
    avcodec_send_packet(codec.get(), packet.get());
    if (Status drained = drain(); !drained) return drained.error();
  }
  avcodec_send_packet(codec.get(), nullptr);
  if (Status drained = drain(); !drained) return drained.error();
  if (Status flushed = decoder.Flush(); !flushed) return flushed.error();
  if (progress) progress(1.0);

  DecodedSoundtrack soundtrack;
  soundtrack.format = format;
  soundtrack.data = std::move(decoder.Data());
  return std::optional<DecodedSoundtrack>(std::move(soundtrack));
}

}  // namespace reel
