// When each picture of an MPEG-4 part 2 video is shown, as the stream's own picture headers say.
//
// Every coded picture (a VOP) carries its display time: whole seconds as `modulo_time_base` (a run
// of 1 bits counting the seconds passed since the reference picture before it) and the rest as
// `vop_time_increment`, in ticks of the `vop_time_increment_resolution` that the video object
// layer header sets. A VOP whose `vop_coded` flag is 0 is a placeholder with no picture of its
// own. Containers without presentation times (AVI) lose nothing this way: the decoder hands
// pictures out in display order, and these times say where each one stands, packed B-frames and
// dropped frames included.
//
// The reader takes the stream's packets in the order they are stored and returns, for each
// packet, the display times of the pictures it codes (a packed chunk codes two). It knows nothing
// of containers or decoders: it reads bytes only, and a header it cannot read makes it say so
// rather than guess.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace reel {

class VopTimeline {
 public:
  // The codec's set-up bytes (an AVI's format block tail, a container's codec private data) may
  // hold the video object layer header; packets may carry it too.
  void ReadSetup(std::span<const uint8_t> bytes);

  // The display times, in ticks, of the coded pictures in one packet, in stored order. Nothing when
  // no video object layer header has been seen yet or a picture header in the packet does not
  // read: the caller then has no times for this stream from here on (see Lost).
  std::optional<std::vector<int64_t>> PicturesIn(std::span<const uint8_t> packet);

  // Ticks per second; 0 until a video object layer header has been read.
  int64_t Resolution() const { return resolution_; }
  // The ticks between pictures when the layer says its pictures come at a fixed rate; else 0.
  int64_t FixedIncrement() const { return fixedIncrement_; }
  // True once a header did not read: times from here on would be guesses.
  bool Lost() const { return lost_; }

  // Forget everything the packets said (for reading the stream again from its start); the set-up
  // bytes' header stays.
  void Restart();

 private:
  bool ReadLayerHeader(std::span<const uint8_t> bytes);
  bool ReadGroupHeader(std::span<const uint8_t> bytes);
  bool ReadPictureHeader(std::span<const uint8_t> bytes, std::vector<int64_t>& times);

  int64_t resolution_ = 0;
  int incrementBits_ = 0;
  int64_t fixedIncrement_ = 0;
  int64_t setupResolution_ = 0;
  int setupIncrementBits_ = 0;
  int64_t setupFixedIncrement_ = 0;
  // Whole seconds of the last reference picture (I, P or S) and of the one before it: a B-frame's
  // seconds count from the earlier of the two, the reference before it in display order.
  int64_t referenceSeconds_ = 0;
  int64_t previousReferenceSeconds_ = 0;
  std::optional<int64_t> lastReferenceTime_;      // of the last coded reference picture
  std::optional<int64_t> previousReferenceTime_;  // of the one before it
  bool lost_ = false;
};

}  // namespace reel
