// A playback graph for one video file: decoded pictures reach a grabber that takes only 24-bit
// RGB, and the caller moves through the video by absolute positioning, single-frame steps, or a
// run that it pauses at the position it wants.
//
// What the grabber delivers: each picture as rows of blue, green, red bytes, bottom row first,
// every row padded to a multiple of 4 bytes, upright (a video the file marks as rotated is turned),
// at the size of the video's first picture. `ConnectedType` says so in the terms of a bitmap
// header: width, positive height, 24 bits, the sample size (bytes of one picture) and the average
// time per frame.
//
// Pictures and frames. Picture n is the n-th picture shown, in presentation order. Positions and
// durations are in one of two time formats: media time (100-ns units from the first picture) or
// frames, where frame P is the time P × the average time per frame. Stepping counts pictures;
// positioning and running count time, and the picture "on screen" at a time is the last one that
// starts no later than that time. On a constant-rate video the two agree (frame P shows picture
// P); on a video whose rate varies or that drops or repeats pictures they differ, as they would on
// a real-time player.
//
// Time runs on a clock that the graph advances itself: `Run` starts it, `RunUntil` moves it to a
// position and `Pause` holds it. Nothing waits in real time, so a run gives the same pictures on
// every machine and as fast as the pictures decode.
//
// Moving backwards (positioning before the picture on screen) decodes again from the start of the
// file; forward moves decode on from where the graph stands. Every operation is bounded: a stalled
// read ends with kTimedOut and a stream that stops giving pictures with kDamaged.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/mediagraph/grabbed_picture.h"
#include "platform/mediagraph/picture_storage.h"
#include "platform/videodecoding/decoder_threads.h"
#include "platform/mediagraph/source_format.h"

namespace reel {

inline constexpr int64_t kMediaTimePerSecond = 10'000'000;
inline constexpr std::size_t kBitmapHeaderBytes = 40;
// The volume that mutes, in hundredths of a decibel (the loudest is 0).
inline constexpr int32_t kSilentVolume = -10000;

// The media type the grabber is connected with.
struct GrabberType {
  int32_t width = 0;
  int32_t height = 0;          // positive: rows are stored bottom row first
  uint32_t sampleSize = 0;     // bytes of one picture: padded row × height
  int64_t avgTimePerFrame = 0; // 100-ns units

  // The 40-byte BITMAPINFOHEADER of the type: size 40, width, height, 1 plane, 24 bits, no
  // compression, image size = sample size, resolutions and colour counts 0.
  std::array<uint8_t, kBitmapHeaderBytes> BitmapInfoHeader() const;
};

struct VideoSize {
  int32_t width = 0;
  int32_t height = 0;
};

// A length a file states: media time (0 when it states none), and whether it is the whole file's
// (covering its sound too) rather than the video stream's own.
struct StatedLength {
  int64_t mediaTime = 0;
  bool wholeFile = false;
};

enum class TimeFormat { kMediaTime, kFrame };
enum class GraphState { kStopped, kPaused, kRunning };

// What `WaitForCompletion` reports.
enum class GraphEvent {
  kStepComplete,  // a step ended on a new picture
  kComplete,      // the graph reached the stop position or the end of the video
};

struct GraphLimits {
  std::chrono::milliseconds quietFor{10000};  // longest a read may make no progress
  int64_t packetsWithoutPicture = 4096;       // longest run of packets that may give no picture
  // How many threads decode the pictures; the same pictures however many.
  DecoderThreads decoderThreads = DecoderThreads::kAuto;
  // Where decoded pictures are kept: large-page blocks, or libavcodec's own storage (the plain
  // reference); the same pictures either way.
  PictureMemory pictureMemory = PictureMemory::kLargePages;
};

class MediaGraph {
 public:
  // Builds the graph for `path`. Refused: a missing or unreadable file, a file that is not media
  // (kNotThisFormat), a broken one (kDamaged), one without video or without a decoder for it
  // (kUnsupported), and one whose duration, frame count or first picture cannot be had.
  static Result<MediaGraph> Render(const std::string& path, const GraphLimits& limits = {});

  MediaGraph(MediaGraph&&) noexcept;
  MediaGraph& operator=(MediaGraph&&) noexcept;
  ~MediaGraph();

  const std::string& Path() const;
  // The reader the graph opened the file with: handed to the soundtrack's openings of the same
  // file, it spares them the format probe.
  const std::optional<SourceFormat>& Format() const;
  const GrabberType& ConnectedType() const;
  VideoSize NativeVideoSize() const;  // the upright size

  // The video's length. Files with a sample table (MP4, MOV, 3GP, AVI) state both: the frame
  // count is the table's and the media time the stream's duration. For the others (program
  // streams, Matroska, WebM, Ogg, FLV) the video packets are counted in a pass that reads the file
  // without decoding: the count is the frame count and the span of their time stamps (first to
  // last plus one frame, summed over each stretch where the timeline starts again) the media
  // time, since the duration such files state is an estimate, covers the sound too, or is wrong.
  // What is still missing follows from the other and the average time per frame.
  int64_t Duration(TimeFormat format) const;
  // The length the file itself states for the video, or for the whole file when the stream states
  // none. Equal to Duration(kMediaTime) for files with a sample table; for the others it may differ
  // from the measured span.
  StatedLength StatedDuration() const;

  GraphState State() const;
  // The clock's time: after positioning or a run, that time (in frames rounded down); after a
  // step, the time of the picture stepped to (in frames, the nearest frame).
  int64_t CurrentPosition(TimeFormat format) const;
  int64_t StopPosition(TimeFormat format) const;

  // Where picture 0 lies on the file's own timeline, in media time: the time stamp its other
  // streams are placed against (a soundtrack that starts later or earlier than the picture). None
  // when the pictures carry no time stamps.
  std::optional<int64_t> StartTime() const;

  // Absolute positioning: the clock goes to `current` and the picture on screen becomes the one
  // at that time; `stop`, when given, becomes the stop position (the last frame the graph
  // reaches), else it stays. Positions beyond the end are held at the end. Runs, pauses and stops
  // keep their state.
  Status SetPositions(int64_t current, std::optional<int64_t> stop, TimeFormat format = TimeFormat::kFrame);

  Status Run();
  Status Pause();
  // Moves the running clock forward to frame `position` (or the stop position, if that comes
  // first), the pictures on the way being shown in turn. Refused when the graph is not running.
  Status RunUntil(int64_t position, TimeFormat format = TimeFormat::kFrame);

  // Steps one picture forward and leaves the graph paused on it. At the stop position or the end
  // of the video the picture stays and the step completes with kComplete.
  Status Step();
  // The event that the last step or run ended with. A graph with nothing under way has nothing to
  // wait for: that is kTimedOut, at once, since nothing runs behind the caller's back.
  Result<GraphEvent> WaitForCompletion(std::chrono::milliseconds timeout);

  // The picture on screen, as the grabber holds it: the padded rows (sample size bytes) after
  // `leadingBytes` zero bytes, room for a caller's own headers in front without a copy.
  Result<std::vector<uint8_t>> GetCurrentBuffer(uint32_t leadingBytes = 0);
  // The picture on screen, its conversion left for later (on any thread, see grabbed_picture.h):
  // converted, it gives GetCurrentBuffer's bytes. Refused as GetCurrentBuffer refuses, also for a
  // picture the colour converter cannot take.
  Result<GrabbedPicture> GrabCurrentPicture();
  // The picture on screen's place in presentation order.
  int64_t CurrentPictureIndex() const;
  // True when the video holds no picture after the one on screen and the clock has passed that
  // picture's frame: a video that ended before its stated length.
  bool EndOfPictures() const;

  // A hint from a caller that will look only at every `step`-th picture from `step` on (stepping
  // in frame sync): pictures in between that no other picture is built from are then not decoded.
  // Nothing else changes: stepping still counts every picture, each with its own index and time,
  // and a caller that does take the buffer of a picture passed over gets it, decoded again from
  // the start. Moving backwards ends the hint. A step of 0 or 1 passes nothing over.
  void KeepOnly(int64_t step);
  // Packets handed to the video decoder since the graph was rendered.
  int64_t PacketsDecoded() const;

  // The audio volume, in hundredths of a decibel from -10000 (silent) to 0. Nothing is played:
  // the value is only kept.
  Status PutVolume(int32_t volume);
  int32_t Volume() const;

  struct Graph;

 private:
  explicit MediaGraph(std::unique_ptr<Graph> graph);
  std::unique_ptr<Graph> graph_;
};

}  // namespace reel
