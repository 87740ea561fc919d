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
}

#include <algorithm>
#include <deque>
#include <span>
#include <utility>

#include "platform/avifile/avi_demuxer.h"
#include "platform/avifile/avi_file.h"
#include "platform/avifile/dib_converter.h"
#include "platform/mpeg4video/picture_positions.h"

namespace reel {
namespace {

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
  std::optional<DibConverter> dib;  // for GetFrame's pictures

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

  // Brings the current picture to source frame `position`'s; false when there is none.
  bool Reach(uint32_t position) {
    if (static_cast<int64_t>(position) < lastRequest) Restart();
    lastRequest = position;
    if (intraOnly) {
      AdvanceIntra(position);
    } else {
      AdvanceDecoding(position);
    }
    return haveCurrent;
  }

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
  state->dib.emplace(writing);
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
  state->codec->thread_count = DecoderThreadCount(threads, video);
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
  if (!state.Reach(position)) return std::nullopt;
  return state.dib->Convert(*state.current, leadingBytes, std::move(storage));
}

struct AviGrabbedFrame::Held {
  FramePtr picture;  // a reference to the decoded picture
};

std::optional<AviGrabbedFrame> AviFrameReader::GrabFrame(uint32_t position) {
  State& state = *state_;
  if (!state.Reach(position)) return std::nullopt;
  const AVFrame& current = *state.current;
  if (!DibConverter::Takes(current)) return std::nullopt;
  auto held = std::make_unique<AviGrabbedFrame::Held>();
  held->picture.reset(av_frame_clone(&current));
  if (!held->picture) return std::nullopt;
  return AviGrabbedFrame(std::move(held));
}

AviGrabbedFrame::AviGrabbedFrame(std::unique_ptr<Held> held) : held_(std::move(held)) {}
AviGrabbedFrame::AviGrabbedFrame(AviGrabbedFrame&&) noexcept = default;
AviGrabbedFrame& AviGrabbedFrame::operator=(AviGrabbedFrame&&) noexcept = default;
AviGrabbedFrame::~AviGrabbedFrame() = default;

uint32_t AviGrabbedFrame::Width() const { return static_cast<uint32_t>(held_->picture->width); }
uint32_t AviGrabbedFrame::Height() const { return static_cast<uint32_t>(held_->picture->height); }

AviFrameConverter::AviFrameConverter(DibWriting writing) : dib_(std::make_unique<DibConverter>(writing)) {}
AviFrameConverter::AviFrameConverter(AviFrameConverter&&) noexcept = default;
AviFrameConverter& AviFrameConverter::operator=(AviFrameConverter&&) noexcept = default;
AviFrameConverter::~AviFrameConverter() = default;

std::optional<std::vector<uint8_t>> AviFrameConverter::Convert(const AviGrabbedFrame& frame, uint32_t leadingBytes,
                                                               std::vector<uint8_t> storage) {
  return dib_->Convert(*frame.held_->picture, leadingBytes, std::move(storage));
}

bool AviFrameConverter::Slices(const AviGrabbedFrame& frame) { return DibConverter::Slices(*frame.held_->picture); }

bool AviFrameConverter::ConvertInSlices(const AviGrabbedFrame& frame, PictureRowSink& sink) {
  return Slices(frame) && dib_->ConvertInSlices(*frame.held_->picture, sink);
}

}  // namespace reel
