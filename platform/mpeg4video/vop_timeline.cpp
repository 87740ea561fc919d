// Reading the few header fields that date a picture (ISO/IEC 14496-2, 6.2.3 video object layer,
// 6.2.5 video object plane). Only the fields up to `vop_time_increment_resolution` and
// `fixed_vop_time_increment` of the layer header, and up to `vop_coded` of a picture header, are
// read; everything after them is left to the decoder.
//
// The main difficulty is the seconds. A reference picture's `modulo_time_base` counts from the
// seconds of the reference before it in stored order; a B-frame's from the reference before it in
// display order, which is the last but one reference stored (the last one is shown after the
// B-frame). A group-of-pictures header sets the seconds anew (its `time_code`), for the reference
// after it and for the B-frames that follow that reference.
//
// A header is trusted only while the times make sense. A run of more seconds than any real gap is
// damage. Some old encoders leave out the second when the increment wraps past a whole second, so
// a reference picture dated before the one stored ahead of it (references are shown in stored
// order) gets the missing second back, provided that lands it less than half a second after its
// predecessor; any other reference dated no later than its predecessor is damage, as is a B-frame
// dated outside the two references around it. A placeholder is no picture and repeats the time of
// the one it stands for, so it is not held to this.
#include "platform/mpeg4video/vop_timeline.h"

#include <cstddef>

#include "platform/mpeg4video/msb_bit_reader.h"

namespace reel {
namespace {

constexpr uint8_t kLayerFirst = 0x20;  // video_object_layer_start_code: 0x20 ... 0x2F
constexpr uint8_t kLayerLast = 0x2F;
constexpr uint8_t kGroup = 0xB3;       // group_of_vop_start_code
constexpr uint8_t kPicture = 0xB6;     // vop_start_code
constexpr int kExtendedAspect = 15;    // aspect_ratio_info: the pixel shape follows in two bytes
constexpr int kGreyscaleShape = 3;     // video_object_layer_shape "grayscale"
constexpr int kBidirectional = 2;      // vop_coding_type of a B-frame
constexpr int kMostSeconds = 3600;     // longer runs of modulo_time_base are damage

// Bits that hold 0 ... resolution - 1, at least one.
int IncrementBits(int64_t resolution) {
  int bits = 1;
  while ((int64_t{1} << bits) < resolution) ++bits;
  return bits;
}

// Calls `visit(code, bytes after the start code)` for each start code 00 00 01 xx in `bytes`.
template <typename Visit>
bool ForEachStartCode(std::span<const uint8_t> bytes, Visit visit) {
  for (std::size_t at = 0; at + 3 < bytes.size(); ++at) {
    if (bytes[at] != 0 || bytes[at + 1] != 0 || bytes[at + 2] != 1) continue;
    if (!visit(bytes[at + 3], bytes.subspan(at + 4))) return false;
    at += 3;
  }
  return true;
}

}  // namespace

void VopTimeline::ReadSetup(std::span<const uint8_t> bytes) {
  ForEachStartCode(bytes, [&](uint8_t code, std::span<const uint8_t> rest) {
    if (code >= kLayerFirst && code <= kLayerLast) ReadLayerHeader(rest);
    return true;
  });
  setupResolution_ = resolution_;
  setupIncrementBits_ = incrementBits_;
  setupFixedIncrement_ = fixedIncrement_;
}

void VopTimeline::Restart() {
  resolution_ = setupResolution_;
  incrementBits_ = setupIncrementBits_;
  fixedIncrement_ = setupFixedIncrement_;
  referenceSeconds_ = 0;
  previousReferenceSeconds_ = 0;
  lastReferenceTime_.reset();
  previousReferenceTime_.reset();
  lost_ = false;
}

std::optional<std::vector<int64_t>> VopTimeline::PicturesIn(std::span<const uint8_t> packet) {
  if (lost_) return std::nullopt;
  std::vector<int64_t> times;
  const bool read = ForEachStartCode(packet, [&](uint8_t code, std::span<const uint8_t> rest) {
    if (code >= kLayerFirst && code <= kLayerLast) return ReadLayerHeader(rest);
    if (code == kGroup) return ReadGroupHeader(rest);
    if (code == kPicture) return ReadPictureHeader(rest, times);
    return true;
  });
  if (!read) {
    lost_ = true;
    return std::nullopt;
  }
  return times;
}

bool VopTimeline::ReadLayerHeader(std::span<const uint8_t> bytes) {
  MsbBitReader bits(bytes);
  bits.Read(1);  // random_accessible_vol
  bits.Read(8);  // video_object_type_indication
  int version = 1;
  if (bits.ReadBit() != 0) {  // is_object_layer_identifier
    version = static_cast<int>(bits.Read(4));
    bits.Read(3);  // video_object_layer_priority
  }
  if (bits.Read(4) == kExtendedAspect) bits.Read(16);  // par_width, par_height
  if (bits.ReadBit() != 0) {  // vol_control_parameters
    bits.Read(3);  // chroma_format, low_delay
    if (bits.ReadBit() != 0) bits.Read(79);  // vbv_parameters, their marker bits included
  }
  const uint32_t shape = bits.Read(2);
  if (shape == kGreyscaleShape && version != 1) bits.Read(4);  // video_object_layer_shape_extension
  const uint32_t marker = bits.ReadBit();
  const int64_t resolution = bits.Read(16);
  const uint32_t secondMarker = bits.ReadBit();
  if (bits.Overrun() || marker != 1 || secondMarker != 1 || resolution == 0) return false;
  const int incrementBits = IncrementBits(resolution);
  int64_t fixedIncrement = 0;
  if (bits.ReadBit() != 0) fixedIncrement = bits.Read(incrementBits);  // fixed_vop_rate
  if (bits.Overrun()) return false;
  resolution_ = resolution;
  incrementBits_ = incrementBits;
  fixedIncrement_ = fixedIncrement;
  return true;
}

bool VopTimeline::ReadGroupHeader(std::span<const uint8_t> bytes) {
  MsbBitReader bits(bytes);
  const int64_t hours = bits.Read(5);
  const int64_t minutes = bits.Read(6);
  const uint32_t marker = bits.ReadBit();
  const int64_t seconds = bits.Read(6);
  if (bits.Overrun() || marker != 1) return false;
  referenceSeconds_ = (hours * 60 + minutes) * 60 + seconds;
  return true;
}

bool VopTimeline::ReadPictureHeader(std::span<const uint8_t> bytes, std::vector<int64_t>& times) {
  if (resolution_ == 0) return false;
  MsbBitReader bits(bytes);
  const uint32_t codingType = bits.Read(2);
  int64_t seconds = 0;
  while (bits.ReadBit() != 0 && !bits.Overrun()) {
    if (++seconds > kMostSeconds) return false;
  }
  const uint32_t marker = bits.ReadBit();
  const int64_t increment = bits.Read(incrementBits_);
  const uint32_t secondMarker = bits.ReadBit();
  const uint32_t coded = bits.ReadBit();
  if (bits.Overrun() || marker != 1 || secondMarker != 1 || increment >= resolution_) return false;
  if (codingType == kBidirectional) {
    if (coded == 0) return true;
    // A B-frame is shown between the two references it leans on.
    const int64_t time = (previousReferenceSeconds_ + seconds) * resolution_ + increment;
    if (!lastReferenceTime_ || time >= *lastReferenceTime_) return false;
    if (previousReferenceTime_ && time <= *previousReferenceTime_) return false;
    times.push_back(time);
    return true;
  }
  previousReferenceSeconds_ = referenceSeconds_;
  referenceSeconds_ += seconds;
  int64_t time = referenceSeconds_ * resolution_ + increment;
  // A placeholder repeats the time of the picture it stands for.
  if (coded == 0) return true;
  if (lastReferenceTime_ && time <= *lastReferenceTime_) {
    if (time + resolution_ <= *lastReferenceTime_ || time + resolution_ > *lastReferenceTime_ + resolution_ / 2) {
      return false;
    }
    ++referenceSeconds_;
    time += resolution_;
  }
  previousReferenceTime_ = lastReferenceTime_;
  lastReferenceTime_ = time;
  times.push_back(time);
  return true;
}

}  // namespace reel
