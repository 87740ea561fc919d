// Where each decoded picture of an MPEG-4 part 2 stream stands, from the display times its own
// headers carry (see vop_timeline.h), for a container whose packets have no presentation times.
//
// Positions are counted in the container's time base (an AVI's frame positions). The first coded
// picture stands at the position of the packet that holds it; every later one stands as many
// frames after it as its display time says. A decoder hands pictures out in display order, so
// the next picture out is always the earliest of the pictures sent to it and not yet handed out:
// that is the position `NextPicture` gives.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <queue>
#include <span>
#include <vector>

#include "platform/mpeg4video/vop_timeline.h"

namespace reel {

class PicturePositions {
 public:
  // `setup`: the codec's set-up bytes; one position lasts `timeBaseNum` / `timeBaseDen` seconds.
  PicturePositions(std::span<const uint8_t> setup, int64_t timeBaseNum, int64_t timeBaseDen);

  // A packet as stored, at `position`, before any unpacking; to be called in stored order for
  // every packet that goes to the decoder.
  void Stored(std::span<const uint8_t> packet, int64_t position);
  // The position of the next picture the decoder hands out; nothing when the headers gave none
  // (the stream's headers do not read, or the picture came from elsewhere).
  std::optional<int64_t> NextPicture();
  // False once a header did not read, or dated a picture far from where the container stores it
  // (more than a reordering or a writer's late dating explains): the caller places pictures its
  // own way from then on.
  bool Usable() const { return !lost_ && !timeline_.Lost() && timeline_.Resolution() > 0; }

  void Restart();

 private:
  int64_t PositionOf(int64_t time) const;

  VopTimeline timeline_;
  int64_t timeBaseNum_;
  int64_t timeBaseDen_;
  std::optional<int64_t> firstTime_;
  int64_t firstPosition_ = 0;
  bool lost_ = false;
  std::priority_queue<int64_t, std::vector<int64_t>, std::greater<>> pending_;
};

}  // namespace reel
