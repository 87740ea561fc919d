#include "common/qrx_format.h"

#include <algorithm>

#include "common/byte_io.h"

namespace reel {
namespace {

// Writes fields in order into a fixed-size span.
class FieldWriter {
 public:
  explicit FieldWriter(std::span<uint8_t> bytes) : bytes_(bytes) {}
  void Tag(const std::array<uint8_t, 4>& tag) {
    std::copy(tag.begin(), tag.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ += 4;
  }
  void U16(uint16_t v) {
    StoreU16(bytes_.subspan(pos_).first<2>(), v);
    pos_ += 2;
  }
  void U32(uint32_t v) {
    StoreU32(bytes_.subspan(pos_).first<4>(), v);
    pos_ += 4;
  }

 private:
  std::span<uint8_t> bytes_;
  std::size_t pos_ = 0;
};

std::array<uint8_t, 4> ReadTag(ByteReader& in) {
  return {in.U8(), in.U8(), in.U8(), in.U8()};
}

}  // namespace

QrxHeader ReadQrxHeader(std::span<const uint8_t, kQrxHeaderSize> bytes) {
  ByteReader in(bytes);
  QrxHeader h;
  h.magic = ReadTag(in);
  h.reserved0 = in.U32();
  h.frameCount = in.U32();
  h.frameRate = in.U32();
  h.constantOne = in.U32();
  h.width = in.U32();
  h.height = in.U32();
  h.bitsPerPixel = in.U32();
  h.fileSize = in.U32();
  h.reserved1 = in.U32();
  h.reserved2 = in.U32();
  h.dataOffset = in.U32();
  return h;
}

void WriteQrxHeader(const QrxHeader& h, std::span<uint8_t, kQrxHeaderSize> bytes) {
  FieldWriter out(bytes);
  out.Tag(h.magic);
  out.U32(h.reserved0);
  out.U32(h.frameCount);
  out.U32(h.frameRate);
  out.U32(h.constantOne);
  out.U32(h.width);
  out.U32(h.height);
  out.U32(h.bitsPerPixel);
  out.U32(h.fileSize);
  out.U32(h.reserved1);
  out.U32(h.reserved2);
  out.U32(h.dataOffset);
}

QrxIndexEntry ReadQrxIndexEntry(std::span<const uint8_t, kQrxIndexEntrySize> bytes) {
  ByteReader in(bytes);
  QrxIndexEntry e;
  e.frameNumber = in.U32();
  e.codedSize = in.U32();
  e.rawSize = in.U32();
  e.constantTwo = in.U32();
  e.frameOffset = in.U32();
  e.reserved = in.U32();
  return e;
}

void WriteQrxIndexEntry(const QrxIndexEntry& e, std::span<uint8_t, kQrxIndexEntrySize> bytes) {
  FieldWriter out(bytes);
  out.U32(e.frameNumber);
  out.U32(e.codedSize);
  out.U32(e.rawSize);
  out.U32(e.constantTwo);
  out.U32(e.frameOffset);
  out.U32(e.reserved);
}

QrxFrameHeader ReadQrxFrameHeader(std::span<const uint8_t, kQrxFrameHeaderSize> bytes) {
  ByteReader in(bytes);
  QrxFrameHeader h;
  h.tag = ReadTag(in);
  h.headerSize = in.U32();
  h.flags = in.U32();
  h.quality = in.I32();
  h.width = in.U16();
  h.height = in.U16();
  h.bitsPerPixel = in.U32();
  h.reserved0 = in.U32();
  h.dcStreamSize = in.U32();
  h.acStreamSize = in.U32();
  h.reserved1 = in.U32();
  h.reserved2 = in.U32();
  return h;
}

void WriteQrxFrameHeader(const QrxFrameHeader& h, std::span<uint8_t, kQrxFrameHeaderSize> bytes) {
  FieldWriter out(bytes);
  out.Tag(h.tag);
  out.U32(h.headerSize);
  out.U32(h.flags);
  out.U32(static_cast<uint32_t>(h.quality));
  out.U16(h.width);
  out.U16(h.height);
  out.U32(h.bitsPerPixel);
  out.U32(h.reserved0);
  out.U32(h.dcStreamSize);
  out.U32(h.acStreamSize);
  out.U32(h.reserved1);
  out.U32(h.reserved2);
}

}  // namespace reel
