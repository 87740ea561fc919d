// Which coded pictures no other picture is built from, told from a packet's own bytes before it
// reaches the decoder. Internal to platform/mediagraph.
//
// A picture that nothing refers to and that nobody will look at need not be decoded at all. Three
// families say so in their headers:
// - H.264 (ITU-T H.264, 7.3.1, 7.4.1): every slice of the picture has nal_ref_idc 0. Packets come
//   length-prefixed (the avcC set-up names the prefix size) or with start codes.
// - MPEG-4 part 2 (ISO/IEC 14496-2, 6.2.5): a B-VOP (vop_coding_type 2) that is coded.
// - MPEG-1 and MPEG-2 video (ISO/IEC 13818-2, 6.2.3): a B picture (picture_coding_type 3) coded
//   as a whole frame.
// The judgement is strict: a packet that holds more than one picture, parameter sets, anything
// this reader does not know, or a picture of a stream that may code fields is never called
// unreferenced. Every packet of the stream must pass through, in stored order, since the set-up
// headers that packets carry (sequence parameter sets, video object layer headers) shape how
// later packets read.
#pragma once

#include <cstdint>  // before libavutil, which needs UINT64_C in C++

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <optional>
#include <span>

#include "platform/mpeg4video/vop_timeline.h"

namespace reel {

class UnreferencedPictures {
 public:
  // `setup`: the codec's set-up bytes (avcC, or start-code-delimited headers).
  UnreferencedPictures(AVCodecID codec, std::span<const uint8_t> setup);

  // True when `packet` codes exactly one picture and no other picture refers to it.
  bool Unreferenced(std::span<const uint8_t> packet);

  // True when earlier packets shape how later ones read (H.264 parameter sets, MPEG-4 layer
  // headers and reference times): every packet must then come here, even one not judged.
  bool FollowsPackets() const { return codec_ == AV_CODEC_ID_H264 || codec_ == AV_CODEC_ID_MPEG4; }

  // False for a codec this reader does not judge, or once the stream showed something it cannot
  // judge (fields, an unreadable header): it then calls nothing unreferenced from there on.
  bool Judging() const { return judging_; }

 private:
  bool AvcUnreferenced(std::span<const uint8_t> packet);
  bool Mpeg4Unreferenced(std::span<const uint8_t> packet);
  bool MpegVideoUnreferenced(std::span<const uint8_t> packet) const;
  void ReadAvcSetup(std::span<const uint8_t> setup);
  void ReadSequenceParameters(std::span<const uint8_t> unit);

  AVCodecID codec_;
  bool judging_ = false;
  int lengthSize_ = 0;            // H.264 packets' NAL length prefix, 0 for start codes
  bool sawParameters_ = false;    // an H.264 sequence parameter set was read
  std::optional<VopTimeline> vops_;
};

}  // namespace reel
