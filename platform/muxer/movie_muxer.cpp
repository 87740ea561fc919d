#include "platform/muxer/movie_muxer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <vector>

#include "common/byte_io.h"
#include "common/string_search.h"
#include "platform/muxer/avi_stream_start.h"

namespace reel {
namespace {

// The side data that tells a decoder how many samples to drop: start and end counts (32 bits
// each, little-endian) and two reason bytes.
constexpr std::size_t kSkipSamplesBytes = 10;

std::string AvText(int code) {
  std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
  av_strerror(code, text.data(), text.size());
  return text.data();
}

bool HasExtension(const std::string& path, std::string_view extension) {
  return path.size() > extension.size() && EqualNoCase(std::string_view(path).substr(path.size() - extension.size()), extension);
}

struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using PacketPointer = std::unique_ptr<AVPacket, PacketDeleter>;

struct InputDeleter {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

PacketPointer NewPacket() { return PacketPointer(av_packet_alloc()); }

// One sound file read packet by packet; each packet with the place of its first decoded sample
// (per channel) counted from the first packet.
class SoundInput {
 public:
  static Result<SoundInput> Open(const std::string& path);

  const AVCodecParameters& Parameters() const { return *context_->streams[stream_]->codecpar; }
  const SoundFileFacts& Facts() const { return facts_; }

  // The next packet, or a null pointer at the end of the sound.
  Result<PacketPointer> Next(int64_t& firstSample);

 private:
  SoundInput(std::string path, std::unique_ptr<AVFormatContext, InputDeleter> context, int stream)
      : path_(std::move(path)), context_(std::move(context)), stream_(stream) {}
  Result<PacketPointer> Read();

  std::string path_;
  std::unique_ptr<AVFormatContext, InputDeleter> context_;
  int stream_ = 0;
  SoundFileFacts facts_;
  // The first packets, read at opening to learn where they lie.
  std::deque<PacketPointer> pending_;
  int64_t nextSample_ = 0;
};

Result<SoundInput> SoundInput::Open(const std::string& path) {
  av_log_set_level(AV_LOG_QUIET);
  const bool mp3 = HasExtension(path, ".mp3");
  if (!mp3 && !HasExtension(path, ".ogg")) {
    return MakeError(ErrorKind::kUnsupported, path, "not an .mp3 or .ogg sound file");
  }
  AVFormatContext* raw = nullptr;
  const int opened = avformat_open_input(&raw, path.c_str(), av_find_input_format(mp3 ? "mp3" : "ogg"), nullptr);
  if (opened == AVERROR(ENOENT)) return MakeError(ErrorKind::kNotFound, path, "no such sound file");
  if (opened == AVERROR(EACCES) || opened == AVERROR(EISDIR)) {
    return MakeError(ErrorKind::kCannotRead, path, "cannot open the sound file (" + AvText(opened) + ")");
  }
  if (opened < 0) {
    return MakeError(ErrorKind::kDamaged, path, std::string("holds no ") + (mp3 ? "MP3" : "Ogg Vorbis") +
                                                    " sound that can be read (" + AvText(opened) + ")");
  }
  std::unique_ptr<AVFormatContext, InputDeleter> context(raw);
  if (const int found = avformat_find_stream_info(context.get(), nullptr); found < 0) {
    return MakeError(ErrorKind::kDamaged, path, "its sound cannot be read (" + AvText(found) + ")");
  }
  const int stream = av_find_best_stream(context.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (stream < 0) return MakeError(ErrorKind::kDamaged, path, "holds no sound");
  const AVCodecParameters& parameters = *context->streams[stream]->codecpar;
  const AVCodecID wanted = mp3 ? AV_CODEC_ID_MP3 : AV_CODEC_ID_VORBIS;
  if (parameters.codec_id != wanted) {
    return MakeError(ErrorKind::kUnsupported, path,
                     std::string("holds ") + avcodec_get_name(parameters.codec_id) + " sound, not " +
                         (mp3 ? "MP3" : "Ogg Vorbis"));
  }
  if (parameters.sample_rate <= 0 || parameters.ch_layout.nb_channels <= 0) {
    return MakeError(ErrorKind::kDamaged, path, "its sound has no sample rate or channels");
  }
  SoundInput input(path, std::move(context), stream);
  input.facts_.codec = mp3 ? SoundCodec::kMp3 : SoundCodec::kVorbis;
  input.facts_.sampleRate = static_cast<uint32_t>(parameters.sample_rate);
  input.facts_.channels = static_cast<uint16_t>(parameters.ch_layout.nb_channels);
  // The first two packets tell where the file's packets start and where its sound starts.
  for (int i = 0; i < 2; ++i) {
    Result<PacketPointer> packet = input.Read();
    if (!packet) return packet.error();
    if (!*packet) break;
    input.pending_.push_back(std::move(*packet));
  }
  if (!input.pending_.empty() && input.pending_.front()->pos >= 0) {
    input.facts_.firstPacketOffset = static_cast<uint64_t>(input.pending_.front()->pos);
  }
  if (input.facts_.codec == SoundCodec::kVorbis && input.pending_.size() == 2) {
    const AVRational timeBase = input.context_->streams[stream]->time_base;
    const AVPacket& first = *input.pending_[0];
    const AVPacket& second = *input.pending_[1];
    if (first.pts != AV_NOPTS_VALUE && second.pts != AV_NOPTS_VALUE && second.pts > first.pts) {
      input.facts_.decoderLeadSamples = static_cast<uint64_t>(
          av_rescale_q(second.pts - first.pts, timeBase, AVRational{1, parameters.sample_rate}));
    }
  }
  return input;
}

Result<PacketPointer> SoundInput::Read() {
  PacketPointer packet = NewPacket();
  if (!packet) return MakeError(ErrorKind::kOutOfMemory, path_, "no memory for a sound packet");
  while (true) {
    const int read = av_read_frame(context_.get(), packet.get());
    if (read == AVERROR_EOF) return PacketPointer();
    if (read < 0) return MakeError(ErrorKind::kDamaged, path_, "its sound cannot be read (" + AvText(read) + ")");
    if (packet->stream_index == stream_) return packet;
    av_packet_unref(packet.get());
  }
}

Result<PacketPointer> SoundInput::Next(int64_t& firstSample) {
  Result<PacketPointer> packet = PacketPointer();
  if (pending_.empty()) {
    packet = Read();
  } else {
    packet = std::move(pending_.front());
    pending_.pop_front();
  }
  if (!packet || !*packet) return packet;
  const AVStream& stream = *context_->streams[stream_];
  const AVRational perSample{1, static_cast<int>(facts_.sampleRate)};
  int64_t duration = av_rescale_q((*packet)->duration, stream.time_base, perSample);
  if (duration <= 0) duration = stream.codecpar->frame_size;
  // An MP3's packets follow one another sample for sample from its first; a Vorbis stream's
  // time stamps say where its sound begins.
  if (facts_.codec == SoundCodec::kVorbis && (*packet)->pts != AV_NOPTS_VALUE) {
    nextSample_ = av_rescale_q((*packet)->pts, stream.time_base, perSample);
  }
  firstSample = nextSample_;
  nextSample_ += duration;
  (*packet)->duration = duration;
  return packet;
}

const char* MuxerName(MovieContainer container) {
  switch (container) {
    case MovieContainer::kMatroska: return "matroska";
    case MovieContainer::kAvi: return "avi";
    case MovieContainer::kMp4: return "mp4";
  }
  return "matroska";
}

}  // namespace

struct MovieMuxer::State {
  std::string writePath;
  std::string outputName;
  MovieContainer container = MovieContainer::kMatroska;
  MuxedPictures pictures;
  std::optional<SoundInput> sound;
  uint64_t leadSamples = 0;
  std::optional<uint64_t> endSample;

  AVFormatContext* output = nullptr;
  AVStream* video = nullptr;
  AVStream* audio = nullptr;
  AVRational videoUnit{1, 1};  // the unit of our picture time stamps
  uint64_t framesWritten = 0;

  // The sound packet waiting for its turn, and where its first sample lies.
  PacketPointer soundPacket;
  int64_t soundPacketSample = 0;
  bool soundEnded = false;

  ~State() {
    if (output == nullptr) return;
    if (output->pb != nullptr && !(output->oformat->flags & AVFMT_NOFILE)) avio_closep(&output->pb);
    avformat_free_context(output);
  }

  Error WriteError(const std::string& what, int code) const {
    const ErrorKind kind = code == AVERROR(ENOMEM) ? ErrorKind::kOutOfMemory : ErrorKind::kCannotWrite;
    return MakeError(kind, outputName, what + " (" + AvText(code) + ")");
  }

  // Where picture k is shown, in videoUnit: after the lead, when there is sound.
  int64_t PictureTime(uint64_t k) const {
    if (container == MovieContainer::kAvi || !sound) return static_cast<int64_t>(k);
    return static_cast<int64_t>(k * sound->Facts().sampleRate + leadSamples * pictures.frameRate);
  }

  Status FetchSound() {
    if (soundPacket || soundEnded || !sound) return {};
    Result<PacketPointer> next = sound->Next(soundPacketSample);
    if (!next) return next.error();
    soundPacket = std::move(*next);
    const bool padding = soundPacket && endSample && soundPacketSample >= static_cast<int64_t>(*endSample);
    if (!soundPacket || padding) {
      soundPacket.reset();
      soundEnded = true;
    }
    return {};
  }

  Status WriteSoundPacket() {
    AVPacket& packet = *soundPacket;
    const AVRational perSample{1, static_cast<int>(sound->Facts().sampleRate)};
    if (sound->Facts().codec == SoundCodec::kMp3) av_packet_free_side_data(&packet);
    const int64_t end = soundPacketSample + packet.duration;
    if (endSample && end > static_cast<int64_t>(*endSample)) {
      uint8_t* skip = av_packet_new_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, kSkipSamplesBytes);
      if (skip == nullptr) return MakeError(ErrorKind::kOutOfMemory, outputName, "no memory for a sound packet");
      std::span<uint8_t> fields(skip, kSkipSamplesBytes);
      std::fill(fields.begin(), fields.end(), uint8_t{0});
      StoreU32(fields.subspan(4).first<4>(), static_cast<uint32_t>(end - static_cast<int64_t>(*endSample)));
    }
    packet.stream_index = audio->index;
    packet.pts = packet.dts = soundPacketSample;
    packet.pos = -1;
    av_packet_rescale_ts(&packet, perSample, audio->time_base);
    const int written = av_interleaved_write_frame(output, &packet);
    soundPacket.reset();
    if (written < 0) return WriteError("cannot write the sound", written);
    return {};
  }

  // Writes the sound packets that start up to `until` (in videoUnit), or all with none.
  Status WriteSoundUntil(std::optional<int64_t> until) {
    while (true) {
      if (Status fetched = FetchSound(); !fetched) return fetched;
      if (!soundPacket) return {};
      const AVRational perSample{1, static_cast<int>(sound->Facts().sampleRate)};
      if (until && av_compare_ts(soundPacketSample, perSample, *until, videoUnit) > 0) return {};
      if (Status written = WriteSoundPacket(); !written) return written;
    }
  }
};

std::optional<MovieContainer> ContainerForName(const std::string& path) {
  if (HasExtension(path, ".mkv")) return MovieContainer::kMatroska;
  if (HasExtension(path, ".avi")) return MovieContainer::kAvi;
  if (HasExtension(path, ".mp4")) return MovieContainer::kMp4;
  return std::nullopt;
}

Result<SoundFileFacts> ProbeSoundFile(const std::string& path) {
  Result<SoundInput> input = SoundInput::Open(path);
  if (!input) return input.error();
  return input->Facts();
}

MovieMuxer::MovieMuxer(std::unique_ptr<State> state) : state_(std::move(state)) {}
MovieMuxer::MovieMuxer(MovieMuxer&& other) noexcept = default;
MovieMuxer& MovieMuxer::operator=(MovieMuxer&& other) noexcept = default;
MovieMuxer::~MovieMuxer() = default;

Result<MovieMuxer> MovieMuxer::Open(const std::string& writePath, const std::string& outputName,
                                    MovieContainer container, const MuxedPictures& pictures,
                                    const std::optional<MuxedSound>& sound) {
  av_log_set_level(AV_LOG_QUIET);
  if (pictures.width == 0 || pictures.height == 0 || pictures.frameRate == 0 || pictures.width > kMuxedLargestSide ||
      pictures.height > kMuxedLargestSide || pictures.frameRate > kMuxedFastestRate) {
    return MakeError(ErrorKind::kUsage, outputName, "a movie needs a picture size and a frame rate");
  }
  auto state = std::make_unique<State>();
  state->writePath = writePath;
  state->outputName = outputName;
  state->container = container;
  state->pictures = pictures;
  if (sound) {
    Result<SoundInput> input = SoundInput::Open(sound->path);
    if (!input) return input.error();
    if (input->Facts().codec == SoundCodec::kVorbis && container != MovieContainer::kMatroska) {
      return MakeError(ErrorKind::kUnsupported, outputName,
                       "Ogg Vorbis sound (" + sound->path + ") goes only into a Matroska (.mkv) movie");
    }
    state->sound.emplace(std::move(*input));
    state->leadSamples = sound->leadSamples;
    state->endSample = sound->endSample;
  }

  const int allocated = avformat_alloc_output_context2(&state->output, nullptr, MuxerName(container), writePath.c_str());
  if (allocated < 0 || state->output == nullptr) return state->WriteError("cannot start the movie", allocated);
  AVFormatContext& output = *state->output;

  state->video = avformat_new_stream(&output, nullptr);
  if (state->video == nullptr) return state->WriteError("cannot start the movie", AVERROR(ENOMEM));
  AVCodecParameters& video = *state->video->codecpar;
  video.codec_type = AVMEDIA_TYPE_VIDEO;
  video.codec_id = AV_CODEC_ID_MJPEG;
  video.width = static_cast<int>(pictures.width);
  video.height = static_cast<int>(pictures.height);
  video.format = AV_PIX_FMT_YUVJ420P;
  video.color_range = AVCOL_RANGE_JPEG;
  video.field_order = AV_FIELD_PROGRESSIVE;
  const int frameRate = static_cast<int>(pictures.frameRate);
  state->video->avg_frame_rate = AVRational{frameRate, 1};
  state->video->r_frame_rate = AVRational{frameRate, 1};
  // Whole frames where the container counts frames; else fine enough to place the pictures after
  // the lead to the sample.
  state->videoUnit = AVRational{1, frameRate};
  if (state->sound && container != MovieContainer::kAvi) {
    state->videoUnit = AVRational{1, frameRate * static_cast<int>(state->sound->Facts().sampleRate)};
  }
  state->video->time_base = state->videoUnit;

  if (state->sound) {
    state->audio = avformat_new_stream(&output, nullptr);
    if (state->audio == nullptr) return state->WriteError("cannot start the movie", AVERROR(ENOMEM));
    const int copied = avcodec_parameters_copy(state->audio->codecpar, &state->sound->Parameters());
    if (copied < 0) return state->WriteError("cannot start the movie", copied);
    state->audio->codecpar->codec_tag = 0;
    // The lead is placed by the time stamps alone: a container that also recorded the decoder's
    // delay would have players leave it out twice.
    state->audio->codecpar->initial_padding = 0;
    state->audio->codecpar->trailing_padding = 0;
    state->audio->time_base = AVRational{1, static_cast<int>(state->sound->Facts().sampleRate)};
  }

  if (!(output.oformat->flags & AVFMT_NOFILE)) {
    const int opened = avio_open(&output.pb, writePath.c_str(), AVIO_FLAG_WRITE);
    if (opened < 0) return state->WriteError("cannot create the file", opened);
  }
  const int header = avformat_write_header(&output, nullptr);
  if (header < 0) return state->WriteError("cannot write the movie's header", header);
  return MovieMuxer(std::move(state));
}

Status MovieMuxer::WriteFrame(std::span<const uint8_t> jpeg) {
  State& s = *state_;
  const int64_t time = s.PictureTime(s.framesWritten);
  if (Status sound = s.WriteSoundUntil(time); !sound) return sound;
  PacketPointer packet = NewPacket();
  if (!packet || av_new_packet(packet.get(), static_cast<int>(jpeg.size())) < 0) {
    return MakeError(ErrorKind::kOutOfMemory, s.outputName, "no memory for a picture");
  }
  std::copy(jpeg.begin(), jpeg.end(), packet->data);
  packet->stream_index = s.video->index;
  packet->flags |= AV_PKT_FLAG_KEY;
  packet->pts = packet->dts = time;
  packet->duration = s.PictureTime(s.framesWritten + 1) - time;
  av_packet_rescale_ts(packet.get(), s.videoUnit, s.video->time_base);
  const int written = av_interleaved_write_frame(s.output, packet.get());
  if (written < 0) return s.WriteError("cannot write picture " + std::to_string(s.framesWritten), written);
  ++s.framesWritten;
  return {};
}

Status MovieMuxer::Finish() {
  State& s = *state_;
  if (Status sound = s.WriteSoundUntil(std::nullopt); !sound) return sound;
  const int trailer = av_write_trailer(s.output);
  if (trailer < 0) return s.WriteError("cannot finish the movie", trailer);
  if (s.output->pb != nullptr) {
    const int closed = avio_closep(&s.output->pb);
    if (closed < 0) return s.WriteError("cannot finish the movie", closed);
  }
  if (s.container == MovieContainer::kAvi && s.sound) {
    const AviStarts starts = ChooseAviStarts(s.leadSamples, s.sound->Facts().sampleRate,
                                             static_cast<uint32_t>(s.sound->Parameters().frame_size),
                                             s.pictures.frameRate);
    const std::array<uint32_t, 2> fields = {starts.pictureFrames, starts.soundPackets};
    return WriteAviStreamStarts(s.writePath, s.outputName, fields);
  }
  return {};
}

}  // namespace reel
