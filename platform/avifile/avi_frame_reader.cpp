// Frame reading on libavcodec and libswscale.
//
// Source frame p is the picture an AVI player shows at position p: the p-th picture in display
// order. Chunks hold pictures in the order they were coded, which differs from display order once
// a codec sends a later picture ahead of the B-frames that refer to it.
//
// Two ways to reach source frame p. A codec whose every frame stands alone (Motion-JPEG,
// uncompressed DIBs) never reorders, so chunk p holds picture p and only the last packet at or
// before p needs decoding: the packets in between are read and dropped, which is most of a job's
// saving when it keeps one frame in two or three. Any other codec is decoded frame by frame, and
// the last decoded picture at or before p is kept. In both cases one picture read past p waits for
// the next request.
//
// Where a decoded picture stands. Every packet is stamped with its chunk's position before it is
// decoded, and the decoder hands the stamp on with the picture it coded. A decoder that holds no
// picture back for reordering delivers pictures in chunk order, so each stands at its own stamp,
// and a chunk whose picture does not decode leaves its position to the picture before. A decoder
// that reorders delivers pictures in display order, so the n-th picture it delivers takes the n-th
// position that carried a packet: the positions of the packets sent are queued and each picture
// takes the first. (The n-th picture cannot come out before n packets went in, so the queue
// always holds its position by then.) A chunk left empty (a dropped frame) queues nothing and
// shows the picture before it either way.
//
// MPEG-4 part 2 pictures stand where their own headers date them instead (picture_positions.h):
// each picture header carries its display time, so the chunks need not say it. That matters for
// "packed" B-frames (a reference picture and the B-frame shown before it in one chunk, then a
// few-byte placeholder chunk with no picture where the reference picture is shown), which a
// writer may also date late, leaving empty chunks before the first packed one: the pictures still
// stand at their own times. Such a stream is unpacked before decoding (the B-frame moves into the
// placeholder's chunk), so the decoder gets one picture per packet. Only when a header does not
// read, or dates a picture far from its chunk, do the chunk positions place the pictures from
// there on, as for other codecs.
#include "platform/avifile/avi_frame_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <deque>
#include <span>
#include <utility>

#include "common/byte_io.h"
#include "platform/avifile/avi_demuxer.h"
#include "platform/avifile/avi_file.h"
#include "platform/mpeg4video/picture_positions.h"

namespace reel {
namespace {

constexpr int kMaxPictureSide = 16384;
// Colour conversion at the picture's own size: the fast interpolation of the chroma planes is
// about twice as quick as the exact one, and the difference (a unit here and there) is far below
// what the movie's scaling and JPEG coding change anyway.
constexpr int kConversionFlags = SWS_FAST_BILINEAR;
// Row alignment the converter's vector code is happy with.
constexpr int kRowAlignment = 64;
// The converter's vector code makes pixels in groups of this many and stores each group whole.
constexpr int kConverterPixelGroup = 8;

struct CodecContextDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FilterDeleter {
  void operator()(AVBSFContext* filter) const { av_bsf_free(&filter); }
};
struct ScalerDeleter {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FilterPtr = std::unique_ptr<AVBSFContext, FilterDeleter>;

bool IsIntraOnly(AVCodecID id) {
  const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
  return descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY) != 0;
}

int64_t PacketPosition(const AVPacket& packet) {
  if (packet.dts != AV_NOPTS_VALUE) return packet.dts;
  return packet.pts;
}

// The filter that moves packed B-frames into their placeholder chunks, for MPEG-4 part 2 (it passes
// an unpacked stream through unchanged). Nothing for other codecs, or when the filter is missing
// from the libraries or cannot start.
FilterPtr PackedFrameFilter(const AVStream& stream) {
  if (stream.codecpar->codec_id != AV_CODEC_ID_MPEG4) return nullptr;
  const AVBitStreamFilter* unpack = av_bsf_get_by_name("mpeg4_unpack_bframes");
  if (unpack == nullptr) return nullptr;
  AVBSFContext* raw = nullptr;
  if (av_bsf_alloc(unpack, &raw) < 0) return nullptr;
  FilterPtr filter(raw);
  if (avcodec_parameters_copy(filter->par_in, stream.codecpar) < 0) return nullptr;
  filter->time_base_in = stream.time_base;
  if (av_bsf_init(filter.get()) < 0) return nullptr;
  return filter;
}

}  // namespace

struct AviFrameReader::State {
  std::shared_ptr<AviDemuxer> demuxer;
  unsigned stream = 0;
  CodecContextPtr codec;
  bool intraOnly = false;
  FilterPtr unpacker;  // MPEG-4 part 2 only
  bool unpackerFlushed = false;  // the end of the stream was signalled to the unpacker
  std::deque<int64_t> sentPositions;  // of the packets sent and not yet matched with a picture
  std::optional<PicturePositions> datedPictures;  // MPEG-4 part 2 only
  int64_t lastPosition = -1;  // of the last picture placed
  PacketPtr packet{av_packet_alloc()};
  FramePtr decoded{av_frame_alloc()};
  std::unique_ptr<SwsContext, ScalerDeleter> scaler;
  DibWriting writing = DibWriting::kDirect;
  std::vector<uint8_t> converted;  // top-down BGR rows from the converter, on the plain way

  // The picture at or before the last request, and one read beyond it.
  FramePtr current{av_frame_alloc()};
  bool haveCurrent = false;
  PacketPtr waitingPacket{av_packet_alloc()};
  PacketPtr candidatePacket{av_packet_alloc()};
  FramePtr waitingFrame{av_frame_alloc()};
  bool haveWaiting = false;
  int64_t waitingPosition = 0;
  int64_t nextCount = 0;  // position given to a packet that carries no time stamp
  bool endOfPackets = false;
  bool drained = false;
  int64_t lastRequest = -1;

  bool Valid() const { return packet && decoded && current && waitingPacket && candidatePacket && waitingFrame; }

  void Restart() {
    demuxer->Rewind();
    avcodec_flush_buffers(codec.get());
    haveCurrent = false;
    haveWaiting = false;
    nextCount = 0;
    endOfPackets = false;
    drained = false;
    sentPositions.clear();
    if (datedPictures) datedPictures->Restart();
    lastPosition = -1;
    if (unpacker) {
      av_bsf_flush(unpacker.get());
      unpackerFlushed = false;
    }
    av_frame_unref(current.get());
    av_packet_unref(waitingPacket.get());
    av_frame_unref(waitingFrame.get());
  }

  // The next packet of the stream that carries data; empty chunks (dropped frames) are passed over.
  bool ReadPacket() {
    while (demuxer->NextPacket(stream, packet.get())) {
      if (packet->size > 0) return true;
    }
    endOfPackets = true;
    return false;
  }

  // Intra-only: the last packet at or before `position` becomes the current picture.
  void AdvanceIntra(int64_t position) {
    bool candidate = false;
    while (true) {
      if (haveWaiting) {
        if (waitingPosition > position) break;
        av_packet_unref(candidatePacket.get());
        av_packet_move_ref(candidatePacket.get(), waitingPacket.get());
        haveWaiting = false;
        candidate = true;
        continue;
      }
      if (endOfPackets || !ReadPacket()) break;
      av_packet_move_ref(waitingPacket.get(), packet.get());
      waitingPosition = PacketPosition(*waitingPacket);
      haveWaiting = true;
    }
    if (!candidate && !haveCurrent && haveWaiting) {
      // Asked for a frame before the stream's first picture: the first picture stands in.
      av_packet_unref(candidatePacket.get());
      candidate = av_packet_ref(candidatePacket.get(), waitingPacket.get()) >= 0;
    }
    if (!candidate) return;
    // A picture that does not decode is reported as missing, not replaced by an older one.
    av_frame_unref(current.get());
    haveCurrent = false;
    if (avcodec_send_packet(codec.get(), candidatePacket.get()) < 0) return;
    if (avcodec_receive_frame(codec.get(), decoded.get()) < 0) return;
    av_frame_move_ref(current.get(), decoded.get());
    haveCurrent = true;
  }

  // Any codec: decode on until a picture lies beyond `position`.
  void AdvanceDecoding(int64_t position) {
    while (true) {
      if (haveWaiting) {
        if (waitingPosition > position) {
          // Asked for a frame before the stream's first picture (a decoder that starts its time
          // stamps late): the first picture stands in.
          if (!haveCurrent) haveCurrent = av_frame_ref(current.get(), waitingFrame.get()) >= 0;
          return;
        }
        av_frame_unref(current.get());
        av_frame_move_ref(current.get(), waitingFrame.get());
        haveCurrent = true;
        haveWaiting = false;
        continue;
      }
      if (!DecodeNext()) return;
    }
  }

  // One more decoded picture into the waiting slot; false when the stream has no more.
  bool DecodeNext() {
    while (true) {
      const int received = avcodec_receive_frame(codec.get(), waitingFrame.get());
      if (received >= 0) {
        waitingPosition = FramePosition(*waitingFrame);
        haveWaiting = true;
        return true;
      }
      if (received != AVERROR(EAGAIN)) return false;
      if (drained) return false;
      if (NextCodedPacket()) {
        // A packet the decoder refuses is a damaged frame: the picture before it stands in.
        const int64_t position = packet->pts;
        if (avcodec_send_packet(codec.get(), packet.get()) >= 0) sentPositions.push_back(position);
        continue;
      }
      avcodec_send_packet(codec.get(), nullptr);
      drained = true;
    }
  }

  // The next packet for the decoder, stamped with its chunk's position, through the unpacker
  // when there is one; false at the end of the stream.
  bool NextCodedPacket() {
    if (!unpacker) {
      if (!ReadPacket()) return false;
      StampPosition(*packet);
      NoteStored(*packet);
      return true;
    }
    while (true) {
      const int filtered = av_bsf_receive_packet(unpacker.get(), packet.get());
      if (filtered >= 0) {
        if (packet->size > 0) return true;
        continue;
      }
      if (filtered != AVERROR(EAGAIN) || unpackerFlushed) return false;
      if (ReadPacket()) {
        StampPosition(*packet);
        NoteStored(*packet);
        // A packet the unpacker refuses is dropped like a damaged frame.
        if (av_bsf_send_packet(unpacker.get(), packet.get()) < 0) av_packet_unref(packet.get());
      } else {
        av_bsf_send_packet(unpacker.get(), nullptr);
        unpackerFlushed = true;
      }
    }
  }

  // The demuxer dates each chunk by its position (its decoding time); the stamp goes into the
  // presentation time, which the decoder copies onto the picture decoded from the packet.
  void StampPosition(AVPacket& coded) {
    const int64_t position = PacketPosition(coded);
    coded.pts = position == AV_NOPTS_VALUE ? nextCount : position;
    nextCount = coded.pts + 1;
  }

  // The pictures a stored packet codes, dated by their headers, before any unpacking.
  void NoteStored(const AVPacket& stored) {
    if (datedPictures) datedPictures->Stored({stored.data, static_cast<std::size_t>(stored.size)}, stored.pts);
  }

  // Where a decoded picture stands (see the top of the file).
  int64_t FramePosition(const AVFrame& frame) {
    int64_t position = frame.pts;
    std::optional<int64_t> dated;
    if (datedPictures && datedPictures->Usable()) dated = datedPictures->NextPicture();
    if (dated) {
      position = *dated;
      if (!sentPositions.empty()) sentPositions.pop_front();
    } else if (codec->has_b_frames == 0 && position != AV_NOPTS_VALUE) {
      while (!sentPositions.empty() && sentPositions.front() <= position) sentPositions.pop_front();
    } else if (!sentPositions.empty()) {
      position = sentPositions.front();
      sentPositions.pop_front();
    } else {
      position = lastPosition + 1;
    }
    // Positions only rise, whatever a damaged stream does.
    position = std::max(position, lastPosition + 1);
    lastPosition = position;
    return position;
  }

  std::optional<std::vector<uint8_t>> CurrentAsDib(uint32_t leadingBytes, std::vector<uint8_t> buffer) {
    const int width = current->width;
    const int height = current->height;
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) return std::nullopt;
    scaler.reset(sws_getCachedContext(scaler.release(), width, height, static_cast<AVPixelFormat>(current->format),
                                      width, height, AV_PIX_FMT_BGR24, kConversionFlags, nullptr, nullptr, nullptr));
    if (!scaler) return std::nullopt;
    const auto stride = static_cast<uint32_t>((width * 3 + 3) & ~3);
    const auto imageSize = stride * static_cast<uint32_t>(height);
    const std::size_t headerEnd = std::size_t{leadingBytes} + kBitmapInfoHeaderSize;
    const bool inPlace = writing == DibWriting::kDirect && ConvertsInPlace(current->format, width, height);
    if (inPlace) {
      // Every byte after the header is the converter's, so storage of the very size keeps its
      // bytes until they are overwritten (anything else is cleared and grown).
      if (buffer.size() != headerEnd + imageSize) buffer.clear();
      buffer.resize(headerEnd + imageSize + kRowAlignment);
      std::fill_n(buffer.begin(), headerEnd, uint8_t{0});
    } else {
      buffer.clear();
      buffer.reserve(headerEnd + imageSize);
      buffer.resize(headerEnd, 0);
    }
    WriteInfoHeader(std::span<uint8_t>(buffer).subspan(leadingBytes), static_cast<uint32_t>(width),
                    static_cast<uint32_t>(height), imageSize);
    const bool written = inPlace ? ConvertIntoDib(buffer, headerEnd, imageSize, stride)
                                 : ConvertThroughBuffer(buffer, width, height, stride);
    if (!written) return std::nullopt;
    return buffer;
  }

  // Only the converter's own path from planar 4:2:0 (every MPEG-4 picture) writes the DIB in
  // place. It takes chroma rows as they come, one for each two picture rows, so with an even
  // height it gives the same pixels whether the picture is read top down or bottom up; and for a
  // row of whole 8-pixel groups it converts exactly the row's width (the row then has no padding).
  static bool ConvertsInPlace(int format, int width, int height) {
    return format == AV_PIX_FMT_YUV420P && width % kConverterPixelGroup == 0 && height % 2 == 0;
  }

  // The converter reads the picture bottom row first and writes the DIB's rows front to back.
  // Its vector stores may run past a row's end: into the next row, which it writes afterwards, or
  // past the last one into the room of kRowAlignment bytes `buffer` has beyond the image, which is
  // cut off again.
  bool ConvertIntoDib(std::vector<uint8_t>& buffer, std::size_t headerEnd, std::size_t imageSize, uint32_t stride) {
    const int height = current->height;
    const uint8_t* rows[4] = {};
    int rowSteps[4] = {};
    const int planes = 3;
    for (int plane = 0; plane < planes; ++plane) {
      const int planeHeight = plane == 0 ? height : height / 2;
      rows[plane] = current->data[plane] + static_cast<std::ptrdiff_t>(current->linesize[plane]) * (planeHeight - 1);
      rowSteps[plane] = -current->linesize[plane];
    }
    uint8_t* out[4] = {buffer.data() + headerEnd, nullptr, nullptr, nullptr};
    const int outSteps[4] = {static_cast<int>(stride), 0, 0, 0};
    const bool done = sws_scale(scaler.get(), rows, rowSteps, 0, height, out, outSteps) == height;
    buffer.resize(headerEnd + imageSize);
    return done;
  }

  // The plain way, for any width: the converter gets a buffer of its own with aligned, padded
  // rows, which are then appended bottom row first, each with its zero padding, so no byte of the
  // DIB is written twice.
  bool ConvertThroughBuffer(std::vector<uint8_t>& buffer, int width, int height, uint32_t stride) {
    const int alignedStride = FFALIGN(width * 3, kRowAlignment) + kRowAlignment;
    converted.resize(static_cast<std::size_t>(alignedStride) * static_cast<std::size_t>(height) + kRowAlignment);
    uint8_t* planes[4] = {converted.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {alignedStride, 0, 0, 0};
    if (sws_scale(scaler.get(), current->data, current->linesize, 0, height, planes, strides) != height) return false;
    const auto rowBytes = static_cast<std::size_t>(width) * 3;
    const std::size_t padding = stride - rowBytes;
    for (int row = height; row-- > 0;) {
      const uint8_t* from = converted.data() + static_cast<std::size_t>(alignedStride) * static_cast<std::size_t>(row);
      buffer.insert(buffer.end(), from, from + rowBytes);
      buffer.insert(buffer.end(), padding, 0);
    }
    return true;
  }

  static void WriteInfoHeader(std::span<uint8_t> out, uint32_t width, uint32_t height, uint32_t imageSize) {
    StoreU32(out.subspan<0, 4>(), kBitmapInfoHeaderSize);
    StoreU32(out.subspan<4, 4>(), width);
    StoreU32(out.subspan<8, 4>(), height);
    StoreU16(out.subspan<12, 2>(), 1);
    StoreU16(out.subspan<14, 2>(), 24);
    StoreU32(out.subspan<16, 4>(), 0);
    StoreU32(out.subspan<20, 4>(), imageSize);
  }
};

Result<AviFrameReader> AviFrameReader::Open(const std::string& path, uint32_t stream, DecoderThreads threads,
                                            DibWriting writing) {
  auto demuxer = AviDemuxer::Open(path);
  if (!demuxer) return demuxer.error();
  return Open(std::shared_ptr<AviDemuxer>(std::move(*demuxer)), stream, threads, writing);
}

Result<AviFrameReader> AviFrameReader::Open(std::shared_ptr<AviDemuxer> demuxer, uint32_t stream,
                                            DecoderThreads threads, DibWriting writing) {
  const std::string path = demuxer->Context()->url != nullptr ? demuxer->Context()->url : "";
  const auto refuse = [&](const char* what) {
    return MakeError(ErrorKind::kUnsupported, path, "video stream " + std::to_string(stream) + ": " + what);
  };
  auto state = std::make_unique<State>();
  if (!state->Valid()) return MakeError(ErrorKind::kOutOfMemory, path, "no memory for frame reading");
  state->demuxer = std::move(demuxer);
  state->writing = writing;
  if (stream >= state->demuxer->StreamCount()) return refuse("no such stream");
  const AVCodecParameters& parameters = *state->demuxer->Stream(stream)->codecpar;
  if (parameters.codec_type != AVMEDIA_TYPE_VIDEO) return refuse("not a video stream");
  for (unsigned i = 0; i < state->demuxer->StreamCount(); ++i) {
    state->demuxer->Stream(i)->discard = i == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  const AVCodec* decoder = avcodec_find_decoder(parameters.codec_id);
  if (decoder == nullptr) return refuse("no decoder");
  const AVStream& video = *state->demuxer->Stream(stream);
  state->unpacker = PackedFrameFilter(video);
  if (parameters.codec_id == AV_CODEC_ID_MPEG4) {
    const auto setupSize = static_cast<std::size_t>(std::max(parameters.extradata_size, 0));
    state->datedPictures.emplace(std::span<const uint8_t>(parameters.extradata, setupSize), video.time_base.num,
                                 video.time_base.den);
  }
  // The unpacker also clears the "packed" mark from the stream's codec data.
  const AVCodecParameters& coded = state->unpacker ? *state->unpacker->par_out : parameters;
  state->codec.reset(avcodec_alloc_context3(decoder));
  if (!state->codec || avcodec_parameters_to_context(state->codec.get(), &coded) < 0) return refuse("no decoder");
  state->intraOnly = IsIntraOnly(parameters.codec_id);
  // Slice threads never hold a picture back, which the one-packet-one-picture path relies on.
  state->codec->thread_count = threads == DecoderThreads::kOne ? 1 : 0;
  state->codec->thread_type = state->intraOnly ? FF_THREAD_SLICE : (FF_THREAD_FRAME | FF_THREAD_SLICE);
  if (avcodec_open2(state->codec.get(), decoder, nullptr) < 0) return refuse("no decoder");
  state->stream = stream;
  return AviFrameReader(std::move(state));
}

AviFrameReader::AviFrameReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
AviFrameReader::AviFrameReader(AviFrameReader&&) noexcept = default;
AviFrameReader& AviFrameReader::operator=(AviFrameReader&&) noexcept = default;
AviFrameReader::~AviFrameReader() = default;

std::optional<std::vector<uint8_t>> AviFrameReader::GetFrame(uint32_t position, uint32_t leadingBytes,
                                                             std::vector<uint8_t> storage) {
  State& state = *state_;
  if (static_cast<int64_t>(position) < state.lastRequest) state.Restart();
  state.lastRequest = position;
  if (state.intraOnly) {
    state.AdvanceIntra(position);
  } else {
    state.AdvanceDecoding(position);
  }
  if (!state.haveCurrent) return std::nullopt;
  return state.CurrentAsDib(leadingBytes, std::move(storage));
}

}  // namespace reel
