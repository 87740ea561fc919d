// Which packets code one picture that nothing refers to, on small byte fixtures commented per unit.
#include "platform/mediagraph/unreferenced_pictures.h"

#include <gtest/gtest.h>

#include <vector>

namespace reel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}
Bytes AnnexB(const Bytes& unit) { return Join({{0, 0, 0, 1}, unit}); }
Bytes LengthPrefixed(const Bytes& unit) {
  const auto size = static_cast<uint8_t>(unit.size());
  return Join({{0, 0, 0, size}, unit});
}

// Sequence parameter sets, baseline profile: id 0, frame numbers and order type 2, one reference
// frame, 4 x 3 macroblocks, then frame_mbs_only_flag 1 (frames) or 0 (fields may come).
const Bytes kFramesSps{0x67, 0x42, 0x00, 0x1E, 0xDA, 0x11, 0xE0};
const Bytes kFieldsSps{0x67, 0x42, 0x00, 0x1E, 0xDA, 0x11, 0xA0};
// Slices: first_mb_in_slice 0 ('1') or 1 ('010'), the rest of the header left unread.
const Bytes kUnreferencedSlice{0x01, 0x88, 0x84};    // nal_ref_idc 0, non-IDR
const Bytes kUnreferencedSecondSlice{0x01, 0x40, 0x84};
const Bytes kReferenceSlice{0x21, 0x88, 0x84};       // nal_ref_idc 1
const Bytes kIdrSlice{0x65, 0x88, 0x84};
const Bytes kDelimiter{0x09, 0xF0};
const Bytes kSei{0x06, 0x05, 0x01, 0x00, 0x80};
const Bytes kPps{0x68, 0xCE, 0x38, 0x80};
// avcC: version 1, profile, compatibility, level, 4-byte lengths, one parameter set.
const Bytes kAvcC = Join({{0x01, 0x42, 0x00, 0x1E, 0xFF, 0xE1, 0x00, static_cast<uint8_t>(kFramesSps.size())}, kFramesSps});

// MPEG-2 picture header (temporal_reference 1, then picture_coding_type) and coding extension
// (f_codes all 15, then intra_dc_precision 3 and picture_structure).
const Bytes kBPicture{0, 0, 1, 0x00, 0x00, 0x58};  // type 3
const Bytes kIPicture{0, 0, 1, 0x00, 0x00, 0x48};  // type 1
const Bytes kFrameExtension{0, 0, 1, 0xB5, 0x8F, 0xFF, 0xF3};
const Bytes kFieldExtension{0, 0, 1, 0xB5, 0x8F, 0xFF, 0xF1};  // top field
const Bytes kSlice{0, 0, 1, 0x01, 0x12, 0x34};
const Bytes kSequenceHeader{0, 0, 1, 0xB3, 0x04, 0x00, 0x30, 0x13};

struct Fixture {
  const char* what;
  AVCodecID codec;
  Bytes setup;
  Bytes packet;
  bool unreferenced;
};

TEST(UnreferencedPictures, JudgesOnlyWhatItCanBeSureOf) {
  const Fixture fixtures[] = {
      {"one unreferenced slice", AV_CODEC_ID_H264, AnnexB(kFramesSps), AnnexB(kUnreferencedSlice), true},
      {"a delimiter and SEI beside it", AV_CODEC_ID_H264, AnnexB(kFramesSps),
       Join({AnnexB(kDelimiter), AnnexB(kSei), AnnexB(kUnreferencedSlice)}), true},
      {"two slices of one picture", AV_CODEC_ID_H264, AnnexB(kFramesSps),
       Join({AnnexB(kUnreferencedSlice), AnnexB(kUnreferencedSecondSlice)}), true},
      {"two pictures in one packet", AV_CODEC_ID_H264, AnnexB(kFramesSps),
       Join({AnnexB(kUnreferencedSlice), AnnexB(kUnreferencedSlice)}), false},
      {"a slice of a picture begun elsewhere", AV_CODEC_ID_H264, AnnexB(kFramesSps), AnnexB(kUnreferencedSecondSlice), false},
      {"a reference slice", AV_CODEC_ID_H264, AnnexB(kFramesSps), AnnexB(kReferenceSlice), false},
      {"an IDR slice", AV_CODEC_ID_H264, AnnexB(kFramesSps), AnnexB(kIdrSlice), false},
      {"parameters in the packet", AV_CODEC_ID_H264, AnnexB(kFramesSps), Join({AnnexB(kPps), AnnexB(kUnreferencedSlice)}), false},
      {"a stream that may code fields", AV_CODEC_ID_H264, AnnexB(kFieldsSps), AnnexB(kUnreferencedSlice), false},
      {"no parameters seen", AV_CODEC_ID_H264, {}, AnnexB(kUnreferencedSlice), false},
      {"length-prefixed", AV_CODEC_ID_H264, kAvcC, LengthPrefixed(kUnreferencedSlice), true},
      {"a length past the end", AV_CODEC_ID_H264, kAvcC, Join({{0, 0, 0, 9}, kUnreferencedSlice}), false},
      {"MPEG-2 B frame", AV_CODEC_ID_MPEG2VIDEO, {}, Join({kBPicture, kFrameExtension, kSlice}), true},
      {"MPEG-2 B field", AV_CODEC_ID_MPEG2VIDEO, {}, Join({kBPicture, kFieldExtension, kSlice}), false},
      {"MPEG-2 I frame", AV_CODEC_ID_MPEG2VIDEO, {}, Join({kIPicture, kFrameExtension, kSlice}), false},
      {"MPEG-2 B after a sequence header", AV_CODEC_ID_MPEG2VIDEO, {},
       Join({kSequenceHeader, kBPicture, kFrameExtension, kSlice}), false},
      {"MPEG-2 two B frames", AV_CODEC_ID_MPEG2VIDEO, {},
       Join({kBPicture, kFrameExtension, kSlice, kBPicture, kFrameExtension, kSlice}), false},
      {"MPEG-1 B picture", AV_CODEC_ID_MPEG1VIDEO, {}, Join({kBPicture, kSlice}), true},
      {"a codec not judged", AV_CODEC_ID_VP8, {}, Join({kBPicture, kSlice}), false},
  };
  for (const Fixture& fixture : fixtures) {
    UnreferencedPictures judge(fixture.codec, fixture.setup);
    EXPECT_EQ(judge.Unreferenced(fixture.packet), fixture.unreferenced) << fixture.what;
  }
}

}  // namespace
}  // namespace reel
