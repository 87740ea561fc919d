// Which source frames a movie keeps, and at what size: the integer frame-rate arithmetic and the
// fit of the movie's box to the source's shape.
//
// A source of s frames per second becomes a movie of t = s, s / 2 or s / 3 frames per second (by
// the frame-rate choice), and output frame k shows source frame (k x step) / 100, where step is the
// distance between kept frames in hundredths of a source frame. Everything is integer arithmetic,
// so a movie's frame count and the frame loop always agree.
#pragma once

#include <cstdint>
#include <optional>

#include "common/result.h"
#include "converter/choices/job_choices.h"

namespace reel {

struct FrameTiming {
  uint32_t sourceRate = 0;  // s, whole frames per second
  uint32_t targetRate = 0;  // t, the movie's frame rate
  uint32_t step = 0;        // hundredths of a source frame between kept frames
  uint32_t frameCount = 0;  // N
};

// An AVI stream's rate rounded to whole frames per second: (rate + scale / 2) / scale. 0 when the
// scale is 0 (a damaged header).
uint32_t AviSourceRate(uint32_t scale, uint32_t rate);

// The movie's rate for a source rate and a frame-rate choice (an unknown choice counts as the
// standard one).
uint32_t TargetRate(uint32_t sourceRate, FrameRateChoice frameRateChoice);

// The timing of a movie from a source of `sourceLength` frames, or nothing when the source rate is
// 0 (there is no step to take) or the frame count would not fit a movie's index.
std::optional<FrameTiming> ComputeFrameTiming(uint32_t sourceRate, uint32_t sourceLength, FrameRateChoice frameRateChoice);

// The source frame that output frame k shows.
uint32_t SourceFrameFor(uint32_t outputFrame, uint32_t step);

// What a media-framework source states about its length: D in 100-ns units, its frame count F and
// the average time per frame of its pictures.
struct MediaLength {
  int64_t duration = 0;         // D
  int64_t frames = 0;           // F as the graph states it
  int64_t avgTimePerFrame = 0;  // 100-ns units
};

// A media-framework source's timing: the measured rate r, the source rate X (a fixed rate the
// user chose, or r), the movie's rate T, the step N between kept frames and the frame count K.
struct MediaFrameTiming {
  int64_t sourceFrames = 0;  // F after the sanity check
  uint32_t measuredRate = 0;
  uint32_t sourceRate = 0;
  uint32_t targetRate = 0;
  uint32_t step = 0;
  uint32_t frameCount = 0;

  // The same figures in the terms of the movie writer (step in hundredths of a source frame).
  FrameTiming AsFrameTiming() const;
};

// The timing of a media-framework source. A frame count above a million (or beyond 32 bits) is
// taken from the duration and the time per frame instead. The measured rate is
// (F x 1000 + 500) / Dms in integers, Dms being the duration in whole milliseconds: the rate that
// F frames and half a frame more make over the duration, rounded down. That is the nearest whole
// rate only for a source of about one second; over a longer one the half frame adds 500 / Dms,
// less than a half, so the rate is close to rounded down (249 frames in 10 s measure 24, not 25).
// Anything from 28 up counts as 30. `fixedRate` (30, 24 or 15; 0 for none) replaces the measured rate. Refused (kRefused or
// kDamaged, no subject in the message): no frame count, a duration under 1 ms, a measured rate of
// 0, a movie too long for its index.
Result<MediaFrameTiming> ComputeMediaFrameTiming(const MediaLength& length, uint32_t fixedRate,
                                                 FrameRateChoice frameRateChoice);

// The source frame that output frame k of a media-framework movie shows: (k + 1) x N when the
// graph is stepped, k x N when it runs to each frame's time.
int64_t MediaSourceFrameFor(uint32_t outputFrame, uint32_t step, bool stepped);

struct PictureSize {
  uint32_t width = 0;
  uint32_t height = 0;
  friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

// The box of a picture-size choice.
PictureSize BoxForChoice(PictureSizeChoice pictureSizeChoice);

// The fit on a video file's first frame: the side that would overflow the box is kept and the
// other shrinks to keep the source's shape (truncated, at least 1). A source size of 0 leaves the
// box as it is.
//
// Why at least 1: a source far wider than tall (2,000 x 1 into 320 x 240 gives 320 x 0.16) would
// truncate to a side of 0, and a picture without rows or columns can be neither scaled, nor
// JPEG-compressed, nor coded, so every frame of the movie would fail. One row (or column) keeps a
// movie that plays. The fit never grows a side beyond the box, so it needs no upper limit.
PictureSize FitBoxToSource(PictureSize box, PictureSize source);

// The fit a ".mj" job makes from its header: the width stays the box width and the height follows
// the source's shape whenever the two scale factors differ (so a portrait source gives a movie
// taller than the box). Nothing when a source side is 0. Truncated to at least 1, as above.
//
// Unlike the video-file fit, this one can grow the height without bound: a source narrower than
// the box is enlarged to the box width, so a 4 x 480 header asks for 320 x 38,400. The job refuses
// a movie the player would not show (more than 2,048 pixels a side or 5,000 macroblocks, see
// PlayerShowsPicture) before decoding anything: its frames would play as a black window, and
// larger ones could not even be coded, so the job would only fail on its first frame.
std::optional<PictureSize> FitBoxFromHeader(PictureSize box, PictureSize source);

}  // namespace reel
