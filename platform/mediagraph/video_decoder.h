// The primary video stream of a file decoded picture by picture, in presentation order.
// Internal to platform/mediagraph.
//
// Decoders hand pictures out in the order they are shown, whatever order the file stores them in
// (B-frames come after the pictures they lean on), so picture n here is the n-th picture shown.
// Each picture carries its presentation time in 100-ns units from the first picture: the
// container's, or for MPEG-4 part 2 in AVI (which stores no presentation times) the display time
// the picture's own header carries, since a time guessed from the storage order puts the pictures
// after an empty or a packed chunk a frame late. Times are made to rise: a picture without a time
// stamp, or with one not after its predecessor's, is placed one frame after its predecessor. Every
// call is bounded: a stream that yields no picture for a long run of packets is damaged, and a
// stalled read times out.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "common/result.h"
#include "platform/mediagraph/media_source.h"
#include "platform/mediagraph/picture_storage.h"
#include "platform/mediagraph/source_format.h"
#include "platform/mediagraph/unreferenced_pictures.h"
#include "platform/videodecoding/decoder_threads.h"
#include "platform/mpeg4video/picture_positions.h"

namespace reel {

struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct DecodedPicture {
  FramePtr frame;     // none for a picture passed over undecoded (see KeepOnly)
  int64_t index = 0;  // its place in presentation order, from 0
  int64_t time = 0;   // presentation time, 100-ns units from the first picture
};

struct DecoderLimits {
  std::chrono::milliseconds quietFor{10000};  // longest a read may make no progress
  int64_t packetsWithoutPicture = 4096;       // longest run of packets that may give no picture
  // How many threads decode the pictures; the same pictures however many.
  DecoderThreads decoderThreads = DecoderThreads::kAuto;
  // An earlier opening's verdict on the file, which spares this one the format probe.
  std::optional<SourceFormat> format;
  // Where decoded pictures are kept; the same pictures either way.
  PictureMemory pictureMemory = PictureMemory::kLargePages;
};

class VideoDecoder {
 public:
  // Opens `path` and a decoder for its primary video stream. kUnsupported when the file has no
  // video or no decoder for it.
  static Result<std::unique_ptr<VideoDecoder>> Open(const std::string& path, const DecoderLimits& limits);

  // Only Open makes one.
  class Key {
    friend class VideoDecoder;
    Key() = default;
  };
  explicit VideoDecoder(Key) {}
  ~VideoDecoder();
  VideoDecoder(const VideoDecoder&) = delete;
  VideoDecoder& operator=(const VideoDecoder&) = delete;

  // The next picture in presentation order, or nothing after the last one.
  Result<std::optional<DecodedPicture>> Next();

  // A hint that only pictures whose index is a multiple of `step` will be looked at. A picture
  // that no other picture refers to and that lies between them is then not decoded: it still
  // comes out of Next, with its index and time but without a frame. Pictures are passed over only
  // while the stream is plainly well-behaved (every packet stamped, stamps distinct, decoding
  // order rising, reordering within what the decoder holds back, the decoder handing out exactly
  // the pictures the stamps foretell); at the first doubt the stream is decoded again from its
  // start without passing over anything, and brought to where it stood.
  void KeepOnly(int64_t step) { keepStep_ = step; }
  // Packets handed to the decoder so far (the ones passed over not counted).
  int64_t PacketsDecoded() const { return packetsDecoded_ + (exact_ ? exact_->PacketsDecoded() : 0); }

  const AVStream& Stream() const { return *source_->Stream(stream_); }
  MediaSource& Source() { return *source_; }
  // One frame's length in 100-ns units, as the stream declares its rate (0 when it does not).
  int64_t DeclaredFrameTime() const { return declaredFrameTime_; }
  // The first picture's time stamp in the stream's time base, once a picture has come; none when
  // its pictures carry no time stamps.
  std::optional<int64_t> FirstTimeStamp() const { return origin_; }

 private:
  // A picture the decoder gave, or one passed over (no frame), with its time stamp.
  struct Outcome {
    FramePtr frame;
    std::optional<int64_t> stamp;
  };
  struct Awaited {
    bool passedOver = false;
  };

  Result<bool> Fill();
  Result<bool> Receive(AVFrame* into);
  bool PassOver(const AVPacket& packet);
  bool Foretold(const AVFrame& frame);
  void ReleasePassedOverBefore(int64_t stamp);
  void ReleaseTheRest();
  void Doubt();
  Result<std::optional<DecodedPicture>> NextExactly();
  int64_t PresentationTime(std::optional<int64_t> stamp);

  std::unique_ptr<MediaSource> source_;
  std::unique_ptr<PictureStorage> storage_;  // outlives codec_, which the destructor frees first
  DecoderLimits limits_;
  int stream_ = -1;
  AVCodecContext* codec_ = nullptr;
  AVPacket* packet_ = nullptr;
  bool draining_ = false;
  bool finished_ = false;
  int64_t nextIndex_ = 0;
  int64_t declaredFrameTime_ = 0;
  std::optional<PicturePositions> datedPictures_;  // MPEG-4 part 2 without presentation times
  std::optional<int64_t> origin_;  // first picture's time stamp, in the stream's time base
  int64_t lastTime_ = -1;

  // Passing over pictures nobody keeps (KeepOnly). The packets' presentation stamps foretell the
  // order pictures come out in: `awaited_` holds the stamps of packets read and not yet handed
  // out, `ready_` what is ready to hand out, in order.
  std::optional<UnreferencedPictures> judge_;  // while the stream is followed this way
  int64_t keepStep_ = 0;
  std::map<int64_t, Awaited> awaited_;
  std::deque<Outcome> ready_;
  std::optional<int64_t> lastOut_;        // stamp of the last picture made ready
  std::optional<int64_t> lastDecodeTime_;  // of the last packet read
  std::optional<int> heldBack_;  // pictures the decoder holds back for reordering, when passing began
  int64_t passedOver_ = 0;
  bool restart_ = false;  // pictures were passed over and then a doubt came
  int64_t packetsDecoded_ = 0;
  int width_ = 0;
  int height_ = 0;
  // The decoder that took over at a doubt, after pictures had been passed over.
  std::unique_ptr<VideoDecoder> exact_;
};

// The rate a stream declares: its average frame rate, else its base rate; {0, 1} when neither.
AVRational DeclaredFrameRate(const AVStream& stream);

}  // namespace reel
