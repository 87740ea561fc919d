#include "converter/engine/frame_timing.h"

#include <algorithm>
#include <cmath>


namespace reel {
namespace {

// A movie's index must fit below 4 GiB together with its 48-byte header.
constexpr uint64_t kMaxFrames = (uint64_t{UINT32_MAX} - 48) / 24;

// trunc(factor x side), but never 0: a movie side of 0 could not be coded (see FitBoxToSource).
uint32_t TruncatedProduct(double factor, uint32_t side) {
  const double product = std::trunc(factor * static_cast<double>(side));
  return static_cast<uint32_t>(std::clamp(product, 1.0, static_cast<double>(UINT32_MAX)));
}

}  // namespace

uint32_t AviSourceRate(uint32_t scale, uint32_t rate) {
  if (scale == 0) return 0;
  return static_cast<uint32_t>((uint64_t{rate} + scale / 2) / scale);
}

uint32_t TargetRate(uint32_t sourceRate, FrameRateChoice frameRateChoice) {
  switch (frameRateChoice) {
    case FrameRateChoice::kHighest: return sourceRate;
    case FrameRateChoice::kLowest: return sourceRate > 10 ? sourceRate / 3 : sourceRate;
    default: return sourceRate > 15 ? sourceRate / 2 : sourceRate;
  }
}

std::optional<FrameTiming> ComputeFrameTiming(uint32_t sourceRate, uint32_t sourceLength, FrameRateChoice frameRateChoice) {
  if (sourceRate == 0) return std::nullopt;
  FrameTiming timing;
  timing.sourceRate = sourceRate;
  timing.targetRate = TargetRate(sourceRate, frameRateChoice);
  const uint64_t step = uint64_t{sourceRate} * 100 / timing.targetRate;
  const uint64_t frames = uint64_t{sourceLength} * 100 / step;
  if (step > UINT32_MAX || frames > kMaxFrames) return std::nullopt;
  timing.step = static_cast<uint32_t>(step);
  timing.frameCount = static_cast<uint32_t>(frames);
  return timing;
}

FrameTiming MediaFrameTiming::AsFrameTiming() const {
  return {sourceRate, targetRate, step * 100, frameCount};
}

Result<MediaFrameTiming> ComputeMediaFrameTiming(const MediaLength& length, uint32_t fixedRate,
                                                 FrameRateChoice frameRateChoice) {
  constexpr int64_t kMostStatedFrames = 1'000'000;
  constexpr int64_t kMediaTimePerMillisecond = 10'000;
  constexpr uint32_t kCountsAsThirty = 28;
  MediaFrameTiming timing;
  int64_t frames = length.frames;
  if (frames > kMostStatedFrames || frames > INT32_MAX) {
    frames = length.avgTimePerFrame > 0 ? length.duration / length.avgTimePerFrame : 0;
  }
  if (frames <= 0) return MakeError(ErrorKind::kDamaged, "", "its video has no readable frame count");
  if (static_cast<uint64_t>(frames) > kMaxFrames) return MakeError(ErrorKind::kRefused, "", "its video is too long for one movie");
  const int64_t milliseconds = length.duration / kMediaTimePerMillisecond;
  if (milliseconds <= 0) {
    return MakeError(ErrorKind::kRefused, "", "its video lasts under one millisecond; there is nothing to convert");
  }
  const int64_t measured = (frames * 1000 + 500) / milliseconds;
  if (measured == 0) {
    return MakeError(ErrorKind::kRefused, "", "its video measures 0 frames per second; there is nothing to convert");
  }
  timing.sourceFrames = frames;
  timing.measuredRate = measured >= kCountsAsThirty ? 30u : static_cast<uint32_t>(measured);
  timing.sourceRate = fixedRate != 0 ? fixedRate : timing.measuredRate;
  timing.targetRate = TargetRate(timing.sourceRate, frameRateChoice);
  timing.step = timing.sourceRate / timing.targetRate;
  const int64_t count = (frames - 1) / timing.step;
  if (static_cast<uint64_t>(count) > kMaxFrames) {
    return MakeError(ErrorKind::kRefused, "", "its video is too long for one movie");
  }
  timing.frameCount = static_cast<uint32_t>(count);
  return timing;
}

int64_t MediaSourceFrameFor(uint32_t outputFrame, uint32_t step, bool stepped) {
  return (int64_t{outputFrame} + (stepped ? 1 : 0)) * step;
}

uint32_t SourceFrameFor(uint32_t outputFrame, uint32_t step) {
  return static_cast<uint32_t>(uint64_t{outputFrame} * step / 100);
}

PictureSize BoxForChoice(PictureSizeChoice pictureSizeChoice) {
  return {BoxWidth(pictureSizeChoice), BoxHeight(pictureSizeChoice)};
}

PictureSize FitBoxToSource(PictureSize box, PictureSize source) {
  if (source.width == 0 || source.height == 0) return box;
  const double u = static_cast<double>(box.width) / source.width;
  const double v = static_cast<double>(box.height) / source.height;
  if (u < v) return {box.width, TruncatedProduct(u, source.height)};
  if (v < u) return {TruncatedProduct(v, source.width), box.height};
  return box;
}

std::optional<PictureSize> FitBoxFromHeader(PictureSize box, PictureSize source) {
  if (source.width == 0 || source.height == 0) return std::nullopt;
  const double u = static_cast<double>(box.width) / source.width;
  const double v = static_cast<double>(box.height) / source.height;
  if (v == u) return box;
  return PictureSize{box.width, TruncatedProduct(u, source.height)};
}

}  // namespace reel
