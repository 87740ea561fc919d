// Only the first fields of each header are read: the NAL unit header and first_mb_in_slice of an
// H.264 slice, a sequence parameter set up to frame_mbs_only_flag (7.3.2.1.1), the coding type of
// a VOP, the coding type of an MPEG picture and the picture_structure of its coding extension.
// The main difficulty is knowing where one picture ends: an H.264 picture may come in several
// slices, so a packet codes one picture only when exactly one of its slices starts at macroblock 0.
#include "platform/mediagraph/unreferenced_pictures.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/mpeg4video/msb_bit_reader.h"

namespace reel {
namespace {

// H.264 NAL unit types (Table 7-1).
constexpr int kNonIdrSlice = 1;
constexpr int kSupplementalInfo = 6;
constexpr int kSequenceParameters = 7;
constexpr int kAccessUnitDelimiter = 9;
constexpr int kFiller = 12;
// Profiles whose sequence parameter sets carry chroma format, bit depths and scaling lists.
constexpr int kHighProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
constexpr uint32_t kMostOffsetsForRefFrames = 255;

// MPEG-4 part 2 start codes.
constexpr uint8_t kVop = 0xB6;
constexpr uint8_t kUserData = 0xB2;
constexpr int kBidirectionalVop = 2;

// MPEG-1/2 start codes and the picture coding extension.
constexpr uint8_t kPictureStart = 0x00;
constexpr uint8_t kFirstSlice = 0x01;
constexpr uint8_t kLastSlice = 0xAF;
constexpr uint8_t kExtension = 0xB5;
constexpr int kPictureCodingExtension = 8;
constexpr int kBidirectionalPicture = 3;
constexpr int kFramePicture = 3;

// An H.264 unit's payload with its emulation prevention bytes (00 00 03) left out.
std::vector<uint8_t> Unescaped(std::span<const uint8_t> payload) {
  std::vector<uint8_t> bytes;
  bytes.reserve(payload.size());
  int zeros = 0;
  for (const uint8_t byte : payload) {
    if (zeros >= 2 && byte == 3) {
      zeros = 0;
      continue;
    }
    zeros = byte == 0 ? zeros + 1 : 0;
    bytes.push_back(byte);
  }
  return bytes;
}

// The bits of an H.264 unit's payload, with its Exp-Golomb codes; reads past the end return 0 and
// set a sticky flag.
class UnitBits {
 public:
  explicit UnitBits(std::span<const uint8_t> payload) : bytes_(Unescaped(payload)), bits_(bytes_) {}
  UnitBits(const UnitBits&) = delete;
  UnitBits& operator=(const UnitBits&) = delete;

  uint32_t Bit() { return bits_.ReadBit(); }
  uint32_t Bits(int count) { return bits_.Read(count); }
  // ue(v), 9.1: a value of more than 32 bits is damage.
  uint32_t Unsigned() {
    int zeros = 0;
    while (Bit() == 0) {
      if (bits_.Overrun() || ++zeros > 31) {
        damaged_ = true;
        return 0;
      }
    }
    return (uint32_t{1} << zeros) - 1 + Bits(zeros);
  }
  int32_t Signed() {
    const uint32_t code = Unsigned();
    return (code & 1U) != 0 ? static_cast<int32_t>((code + 1) / 2) : -static_cast<int32_t>(code / 2);
  }
  bool Overrun() const { return damaged_ || bits_.Overrun(); }

 private:
  std::vector<uint8_t> bytes_;
  MsbBitReader bits_;
  bool damaged_ = false;
};

// Where the next start code prefix 00 00 01 begins at or after `from`; the size when none does.
// The 01 bytes are looked for with memchr, since coded data is long and start codes are few.
std::size_t NextStartCode(std::span<const uint8_t> bytes, std::size_t from) {
  std::size_t at = from + 2;
  while (at < bytes.size()) {
    const void* found = std::memchr(bytes.data() + at, 1, bytes.size() - at);
    if (found == nullptr) break;
    at = static_cast<std::size_t>(static_cast<const uint8_t*>(found) - bytes.data());
    if (bytes[at - 1] == 0 && bytes[at - 2] == 0) return at - 2;
    ++at;
  }
  return bytes.size();
}

// Calls `visit(unit)` for each NAL unit of `packet`: length-prefixed when `lengthSize` > 0, else
// delimited by start codes. False when a length runs past the packet.
template <typename Visit>
bool ForEachUnit(std::span<const uint8_t> packet, int lengthSize, Visit visit) {
  if (lengthSize > 0) {
    std::size_t at = 0;
    while (at < packet.size()) {
      if (packet.size() - at < static_cast<std::size_t>(lengthSize)) return false;
      std::size_t length = 0;
      for (int i = 0; i < lengthSize; ++i) length = (length << 8) | packet[at + static_cast<std::size_t>(i)];
      at += static_cast<std::size_t>(lengthSize);
      if (length == 0 || length > packet.size() - at) return false;
      visit(packet.subspan(at, length));
      at += length;
    }
    return true;
  }
  std::size_t start = 0;
  bool open = false;
  for (std::size_t at = NextStartCode(packet, 0); at < packet.size(); at = NextStartCode(packet, at + 3)) {
    if (open) {
      std::size_t end = at;
      while (end > start && packet[end - 1] == 0) --end;
      if (end > start) visit(packet.subspan(start, end - start));
    }
    start = at + 3;
    open = true;
  }
  if (!open) return false;
  std::size_t end = packet.size();
  while (end > start && packet[end - 1] == 0) --end;
  if (end > start) visit(packet.subspan(start, end - start));
  return true;
}

// Calls `visit(code, bytes after the start code)` for each start code 00 00 01 xx.
template <typename Visit>
void ForEachStartCode(std::span<const uint8_t> bytes, Visit visit) {
  for (std::size_t at = NextStartCode(bytes, 0); at + 3 < bytes.size(); at = NextStartCode(bytes, at + 4)) {
    visit(bytes[at + 3], bytes.subspan(at + 4));
  }
}

bool HighProfile(uint32_t profile) {
  for (const int high : kHighProfiles) {
    if (profile == static_cast<uint32_t>(high)) return true;
  }
  return false;
}

void SkipScalingList(UnitBits& bits, int size) {
  int32_t last = 8;
  int32_t next = 8;
  for (int j = 0; j < size && !bits.Overrun(); ++j) {
    if (next != 0) next = (last + bits.Signed() + 256) % 256;
    last = next == 0 ? last : next;
  }
}

// frame_mbs_only_flag of a sequence parameter set (7.3.2.1.1); none when it does not read.
std::optional<bool> FramesOnly(std::span<const uint8_t> payload) {
  UnitBits bits(payload);
  const uint32_t profile = bits.Bits(8);
  bits.Bits(16);     // constraint flags, level_idc
  bits.Unsigned();   // seq_parameter_set_id
  if (HighProfile(profile)) {
    const uint32_t chromaFormat = bits.Unsigned();
    if (chromaFormat == 3) bits.Bit();  // separate_colour_plane_flag
    bits.Unsigned();  // bit_depth_luma_minus8
    bits.Unsigned();  // bit_depth_chroma_minus8
    bits.Bit();       // qpprime_y_zero_transform_bypass_flag
    if (bits.Bit() != 0) {  // seq_scaling_matrix_present_flag
      const int lists = chromaFormat == 3 ? 12 : 8;
      for (int i = 0; i < lists; ++i) {
        if (bits.Bit() != 0) SkipScalingList(bits, i < 6 ? 16 : 64);
      }
    }
  }
  bits.Unsigned();  // log2_max_frame_num_minus4
  const uint32_t orderType = bits.Unsigned();
  if (orderType == 0) {
    bits.Unsigned();  // log2_max_pic_order_cnt_lsb_minus4
  } else if (orderType == 1) {
    bits.Bit();       // delta_pic_order_always_zero_flag
    bits.Signed();    // offset_for_non_ref_pic
    bits.Signed();    // offset_for_top_to_bottom_field
    const uint32_t cycle = bits.Unsigned();
    if (cycle > kMostOffsetsForRefFrames) return std::nullopt;
    for (uint32_t i = 0; i < cycle; ++i) bits.Signed();
  } else if (orderType != 2) {
    return std::nullopt;
  }
  bits.Unsigned();  // max_num_ref_frames
  bits.Bit();       // gaps_in_frame_num_value_allowed_flag
  bits.Unsigned();  // pic_width_in_mbs_minus1
  bits.Unsigned();  // pic_height_in_map_units_minus1
  const bool framesOnly = bits.Bit() != 0;
  if (bits.Overrun()) return std::nullopt;
  return framesOnly;
}

}  // namespace

UnreferencedPictures::UnreferencedPictures(AVCodecID codec, std::span<const uint8_t> setup) : codec_(codec) {
  switch (codec) {
    case AV_CODEC_ID_H264:
      judging_ = true;
      ReadAvcSetup(setup);
      break;
    case AV_CODEC_ID_MPEG4:
      judging_ = true;
      vops_.emplace();
      vops_->ReadSetup(setup);
      break;
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
      judging_ = true;
      break;
    default:
      break;
  }
}

bool UnreferencedPictures::Unreferenced(std::span<const uint8_t> packet) {
  if (!judging_) return false;
  switch (codec_) {
    case AV_CODEC_ID_H264: return AvcUnreferenced(packet);
    case AV_CODEC_ID_MPEG4: return Mpeg4Unreferenced(packet);
    default: return MpegVideoUnreferenced(packet);
  }
}

// avcC (ISO/IEC 14496-15, 5.2.4.1): version 1, profile, compatibility, level, the length size
// less one in the low two bits, then the sequence parameter sets, each after a 16-bit length.
// Set-up bytes that are no avcC hold the headers with start codes.
void UnreferencedPictures::ReadAvcSetup(std::span<const uint8_t> setup) {
  if (setup.size() >= 7 && setup[0] == 1) {
    lengthSize_ = (setup[4] & 3) + 1;
    const int sets = setup[5] & 0x1F;
    std::size_t at = 6;
    for (int i = 0; i < sets && judging_; ++i) {
      if (setup.size() - at < 2) {
        judging_ = false;
        return;
      }
      const std::size_t length = (std::size_t{setup[at]} << 8) | setup[at + 1];
      at += 2;
      if (length == 0 || length > setup.size() - at) {
        judging_ = false;
        return;
      }
      ReadSequenceParameters(setup.subspan(at, length));
      at += length;
    }
    return;
  }
  ForEachUnit(setup, 0, [&](std::span<const uint8_t> unit) {
    if ((unit[0] & 0x1F) == kSequenceParameters) ReadSequenceParameters(unit);
  });
}

// A stream that may code fields is not judged: a field is half a picture, and which field pairs
// with which needs more of the slice header than is read here.
void UnreferencedPictures::ReadSequenceParameters(std::span<const uint8_t> unit) {
  const std::optional<bool> framesOnly = FramesOnly(unit.subspan(1));
  if (!framesOnly || !*framesOnly) {
    judging_ = false;
    return;
  }
  sawParameters_ = true;
}

bool UnreferencedPictures::AvcUnreferenced(std::span<const uint8_t> packet) {
  int pictures = 0;
  bool plain = true;  // only slices of unreferenced pictures and units that shape nothing
  const bool read = ForEachUnit(packet, lengthSize_, [&](std::span<const uint8_t> unit) {
    const int type = unit[0] & 0x1F;
    const int referenceIdc = (unit[0] >> 5) & 3;
    if ((unit[0] & 0x80) != 0) {
      plain = false;
      return;
    }
    if (type == kSequenceParameters) {
      ReadSequenceParameters(unit);
      plain = false;
      return;
    }
    if (type == kSupplementalInfo || type == kAccessUnitDelimiter || type == kFiller) return;
    if (type != kNonIdrSlice || referenceIdc != 0) {
      plain = false;
      return;
    }
    UnitBits bits(unit.subspan(1, std::min<std::size_t>(unit.size() - 1, 8)));
    const uint32_t firstMacroblock = bits.Unsigned();
    if (bits.Overrun()) {
      plain = false;
    } else if (firstMacroblock == 0) {
      ++pictures;
    } else if (pictures == 0) {
      plain = false;  // a slice of a picture that started in another packet
    }
  });
  return read && plain && judging_ && sawParameters_ && pictures == 1;
}

bool UnreferencedPictures::Mpeg4Unreferenced(std::span<const uint8_t> packet) {
  const std::optional<std::vector<int64_t>> times = vops_->PicturesIn(packet);
  if (!times) {
    judging_ = false;
    return false;
  }
  int vops = 0;
  bool plain = true;
  bool bidirectional = false;
  ForEachStartCode(packet, [&](uint8_t code, std::span<const uint8_t> rest) {
    if (code == kUserData) return;
    if (code != kVop || rest.empty()) {
      plain = false;
      return;
    }
    ++vops;
    bidirectional = (rest[0] >> 6) == kBidirectionalVop;
  });
  return plain && vops == 1 && bidirectional && times->size() == 1;
}

bool UnreferencedPictures::MpegVideoUnreferenced(std::span<const uint8_t> packet) const {
  int pictures = 0;
  bool plain = true;
  bool bidirectional = false;
  bool frame = codec_ == AV_CODEC_ID_MPEG1VIDEO;
  ForEachStartCode(packet, [&](uint8_t code, std::span<const uint8_t> rest) {
    if (code >= kFirstSlice && code <= kLastSlice) return;
    if (code == kPictureStart && rest.size() >= 2) {
      ++pictures;
      bidirectional = ((rest[1] >> 3) & 7) == kBidirectionalPicture;  // after temporal_reference
      return;
    }
    if (code == kExtension && rest.size() >= 3 && (rest[0] >> 4) == kPictureCodingExtension) {
      frame = (rest[2] & 3) == kFramePicture;
      return;
    }
    if (code == kUserData) return;
    plain = false;
  });
  return plain && pictures == 1 && bidirectional && frame;
}

}  // namespace reel
