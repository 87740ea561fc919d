// Turning display times into positions. A stream's clock need not tick once a frame (Xvid counts
// 30000 ticks a second for 29.97 fps, others 30 for the same rate), and its rate may differ a
// little from the container's (a 30-tick clock in a 29.97 fps AVI): converting through seconds
// would then slip one position every thousand frames. So when the container's frame lasts a whole
// number of ticks, give or take one per cent, a position is that many ticks; only other clocks
// are converted exactly.
#include "platform/mpeg4video/picture_positions.h"

#include <cmath>

namespace reel {
namespace {

constexpr double kWholeTicksTolerance = 0.01;
// How far a picture's time may put it from the packet that stores it: B-frames and the pictures
// of a late-dated packed chunk are a few positions off; many more is a misread header.
constexpr int64_t kMostDistance = 32;

// a × b / c rounded to the nearest, for the small values a stream's clock gives.
int64_t ScaleRounded(int64_t a, int64_t b, int64_t c) {
  const long double exact = static_cast<long double>(a) * static_cast<long double>(b) / static_cast<long double>(c);
  return static_cast<int64_t>(std::llround(exact));
}

}  // namespace

PicturePositions::PicturePositions(std::span<const uint8_t> setup, int64_t timeBaseNum, int64_t timeBaseDen)
    : timeBaseNum_(timeBaseNum > 0 ? timeBaseNum : 1), timeBaseDen_(timeBaseDen > 0 ? timeBaseDen : 1) {
  timeline_.ReadSetup(setup);
}

void PicturePositions::Restart() {
  timeline_.Restart();
  firstTime_.reset();
  firstPosition_ = 0;
  lost_ = false;
  pending_ = {};
}

void PicturePositions::Stored(std::span<const uint8_t> packet, int64_t position) {
  if (lost_) return;
  const auto times = timeline_.PicturesIn(packet);
  if (!times) return;
  for (const int64_t time : *times) {
    if (!firstTime_) {
      firstTime_ = time;
      firstPosition_ = position;
    }
    const int64_t shown = PositionOf(time);
    if (shown < position - kMostDistance || shown > position + kMostDistance) lost_ = true;
    pending_.push(shown);
  }
}

std::optional<int64_t> PicturePositions::NextPicture() {
  if (pending_.empty()) return std::nullopt;
  const int64_t next = pending_.top();
  pending_.pop();
  return next;
}

int64_t PicturePositions::PositionOf(int64_t time) const {
  const int64_t resolution = timeline_.Resolution();
  const int64_t elapsed = time - *firstTime_;
  // Ticks in one position: resolution × num / den.
  const double ticks =
      static_cast<double>(resolution) * static_cast<double>(timeBaseNum_) / static_cast<double>(timeBaseDen_);
  const double whole = std::round(ticks);
  if (whole >= 1 && std::abs(ticks - whole) <= kWholeTicksTolerance * ticks) {
    return firstPosition_ + ScaleRounded(elapsed, 1, static_cast<int64_t>(whole));
  }
  return firstPosition_ + ScaleRounded(elapsed, timeBaseDen_, resolution * timeBaseNum_);
}

}  // namespace reel
