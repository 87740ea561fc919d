#include "converter/jpeg/jpeg_coef_reader.h"

#include <algorithm>
#include <limits>
#include <string>

#include "common/zigzag.h"

namespace reel {
namespace {

constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kSof0 = 0xC0;
constexpr uint8_t kSof1 = 0xC1;
constexpr uint8_t kSof2 = 0xC2;
constexpr uint8_t kDht = 0xC4;
constexpr uint8_t kDqt = 0xDB;
constexpr uint8_t kSos = 0xDA;
constexpr uint8_t kDri = 0xDD;
constexpr uint8_t kDnl = 0xDC;

// T.81 B.2.3: an interleaved MCU holds at most ten blocks.
constexpr int32_t kMaxBlocksPerMcu = 10;
constexpr int kMaxSamplingFactor = 4;

// Big-endian fields of one segment body; a read past the body yields 0 and marks the cursor
// failed, which the caller checks once.
class SegmentCursor {
 public:
  explicit SegmentCursor(std::span<const uint8_t> body) : body_(body) {}
  uint8_t U8() {
    if (position_ >= body_.size()) {
      failed_ = true;
      return 0;
    }
    return body_[position_++];
  }
  uint16_t U16() {
    const uint8_t high = U8();
    return static_cast<uint16_t>((high << 8) | U8());
  }
  std::span<const uint8_t> Bytes(std::size_t count) {
    if (body_.size() - position_ < count) {
      failed_ = true;
      position_ = body_.size();
      return {};
    }
    const auto bytes = body_.subspan(position_, count);
    position_ += count;
    return bytes;
  }
  std::size_t Left() const { return body_.size() - position_; }
  bool Failed() const { return failed_; }

 private:
  std::span<const uint8_t> body_;
  std::size_t position_ = 0;
  bool failed_ = false;
};

// Coefficient times quantisation value; only damaged streams come near the 32-bit limits, and
// they are held at them rather than wrapped.
int32_t Dequantise(int32_t value, int32_t quant) {
  const int64_t product = int64_t{value} * quant;
  return static_cast<int32_t>(
      std::clamp<int64_t>(product, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

Status CJpegCoefReader::Decode(CByteSource& source) {
  header_ = JpegHeaderInfo();
  store_.clear();
  bits_.Open(source);
  const Status decoded = DecodeStream();
  width_ = header_.width;
  height_ = header_.height;
  quant0_ = header_.quantTables[0];
  quant1_ = header_.quantTables[1];
  return decoded;
}

Status CJpegCoefReader::DecodeStream() {
  if (!ParseHeader()) return Error{ErrorKind::kNotThisFormat, "not a JPEG stream: no start-of-image marker"};
  if ((header_.flags & kHeaderHasSos) == 0 && bits_.PastEnd()) {
    return Error{ErrorKind::kDamaged, "the stream ends before its scan"};
  }
  if (const Status header = CheckHeader(); !header) return header;
  if (const Status components = SetUpComponents(); !components) return components;
  if (header_.precision != 8) {
    return Error{ErrorKind::kUnsupported, std::to_string(header_.precision) + "-bit samples, not 8-bit"};
  }
  if (header_.scanComponentCount != 3) {
    const int count = header_.scanComponentCount;
    return Error{ErrorKind::kUnsupported,
                 "its scan holds " + std::to_string(count) + (count == 1 ? " component" : " components") + ", not 3"};
  }
  return DecodeAllMcus();
}

// Every segment the scan needs was read, and the frame is one the reader decodes.
Status CJpegCoefReader::CheckHeader() const {
  const uint32_t flags = header_.flags;
  if ((flags & kHeaderHasSof) == 0) {
    return Error{ErrorKind::kUnsupported, "no usable baseline frame header (SOF0 or SOF1)"};
  }
  if (header_.frameMarker == kSof2) return Error{ErrorKind::kUnsupported, "a progressive JPEG"};
  if ((flags & kHeaderHasDqt) == 0) return Error{ErrorKind::kDamaged, "no usable quantisation tables"};
  if ((flags & kHeaderHasDht) == 0) return Error{ErrorKind::kDamaged, "no usable Huffman tables"};
  if ((flags & kHeaderHasSos) == 0) return Error{ErrorKind::kDamaged, "no usable scan header"};
  return {};
}

CoefficientSet CJpegCoefReader::TakeCoefficients() {
  CoefficientSet set;
  set.width = static_cast<uint32_t>(width_);
  set.height = static_cast<uint32_t>(height_);
  set.blocks = std::move(store_);
  store_.clear();
  for (std::size_t i = 0; i < 64; ++i) {
    set.quantTables[0][i] = static_cast<uint16_t>(quant0_[i]);
    set.quantTables[1][i] = static_cast<uint16_t>(quant1_[i]);
  }
  return set;
}

bool CJpegCoefReader::ParseHeader() {
  // Everything before the SOI is ignored; a stream without one ends at its end.
  while (bits_.NextMarker() != kSoi) {
    if (bits_.PastEnd()) return false;
  }
  while ((header_.flags & (kHeaderHasSos | kHeaderEnded)) == 0) ReadSegment(bits_.NextMarker());
  return true;
}

void CJpegCoefReader::ReadSegment(uint8_t marker) {
  if (marker == kSoi || marker == kEoi) {
    header_.flags |= kHeaderEnded;
    return;
  }
  const uint16_t length = bits_.ReadU16();
  const bool known = marker == kSof0 || marker == kSof1 || marker == kSof2 || marker == kDht ||
                     marker == kDqt || marker == kSos || marker == kDri || marker == kDnl ||
                     (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
  // Unknown markers: only the length is read; the next marker search goes on from there.
  if (!known) return;
  std::vector<uint8_t> body(length >= 2 ? length - 2u : 0u);
  bits_.ReadBytes(body);
  switch (marker) {
    case kSof0:
    case kSof1:
    case kSof2: ReadFrameHeader(marker, body); break;
    case kDht: ReadHuffmanTables(body); break;
    case kDqt: ReadQuantTables(body); break;
    case kSos: ReadScanHeader(body); break;
    case kDri: {
      SegmentCursor cursor(body);
      const uint16_t interval = cursor.U16();
      if (!cursor.Failed()) header_.restartInterval = interval;
      break;
    }
    case kDnl: {
      SegmentCursor cursor(body);
      const uint16_t lines = cursor.U16();
      if (!cursor.Failed()) header_.height = lines;
      break;
    }
    default: break;  // APP0 ... APP15 and COM: nothing we need
  }
}

void CJpegCoefReader::ReadFrameHeader(uint8_t marker, std::span<const uint8_t> body) {
  SegmentCursor cursor(body);
  const uint8_t precision = cursor.U8();
  const uint16_t height = cursor.U16();
  const uint16_t width = cursor.U16();
  const uint8_t count = cursor.U8();
  std::array<JpegFrameComponent, 255> components{};
  for (uint8_t i = 0; i < count; ++i) {
    JpegFrameComponent& component = components[i];
    component.id = cursor.U8();
    const uint8_t sampling = cursor.U8();
    component.h = static_cast<uint8_t>(sampling >> 4);
    component.v = static_cast<uint8_t>(sampling & 15);
    component.quantTable = cursor.U8();
    if (component.quantTable > 3) return;  // refused: no such table
  }
  if (cursor.Failed() || cursor.Left() != 0) return;  // refused: length and count disagree
  header_.frameMarker = marker;
  header_.precision = precision;
  header_.height = height;
  header_.width = width;
  header_.frameComponentCount = count;
  header_.frameComponents = components;
  header_.flags |= kHeaderHasSof;
}

void CJpegCoefReader::ReadHuffmanTables(std::span<const uint8_t> body) {
  SegmentCursor cursor(body);
  while (cursor.Left() > 0) {
    const uint8_t classAndId = cursor.U8();
    const auto counts = cursor.Bytes(16);
    if (cursor.Failed()) return;
    const auto symbols = cursor.Bytes(static_cast<std::size_t>(HuffCodeCount(counts.first<16>())));
    const int tableClass = classAndId >> 4;
    const int id = classAndId & 15;
    // Refused from here on: a class or id out of range, a short segment or a broken table.
    if (cursor.Failed() || tableClass > 1 || id > 3) return;
    if (!header_.huffTables[static_cast<std::size_t>(tableClass * 4 + id)].Build(counts.first<16>(), symbols,
                                                                                tableClass == 0)) {
      return;
    }
  }
  header_.flags |= kHeaderHasDht;
}

void CJpegCoefReader::ReadQuantTables(std::span<const uint8_t> body) {
  SegmentCursor cursor(body);
  while (cursor.Left() > 0) {
    const uint8_t precisionAndId = cursor.U8();
    const int precision = precisionAndId >> 4;
    const int id = precisionAndId & 15;
    if (precision > 1 || id > 3) return;  // refused from here on
    std::array<int32_t, 64> values{};
    for (int32_t& value : values) value = precision != 0 ? cursor.U16() : cursor.U8();
    if (cursor.Failed()) return;
    header_.quantTables[static_cast<std::size_t>(id)] = values;
  }
  header_.flags |= kHeaderHasDqt;
}

void CJpegCoefReader::ReadScanHeader(std::span<const uint8_t> body) {
  SegmentCursor cursor(body);
  const uint8_t count = cursor.U8();
  if (count == 0 || count > kMaxScanComponents) return;  // refused
  std::array<JpegScanComponent, kMaxScanComponents> components{};
  for (uint8_t i = 0; i < count; ++i) {
    components[i].id = cursor.U8();
    const uint8_t tables = cursor.U8();
    components[i].dcTable = static_cast<uint8_t>(tables >> 4);
    components[i].acTable = static_cast<uint8_t>(tables & 15);
    if (components[i].dcTable > 3 || components[i].acTable > 3) return;  // refused
  }
  const uint8_t spectralStart = cursor.U8();
  const uint8_t spectralEnd = cursor.U8();
  const uint8_t approximation = cursor.U8();
  if (cursor.Failed() || cursor.Left() != 0) return;  // refused: length and count disagree
  header_.scanComponentCount = count;
  header_.scanComponents = components;
  header_.spectralStart = spectralStart;
  header_.spectralEnd = spectralEnd;
  header_.approximation = approximation;
  header_.flags |= kHeaderHasSos;
}

// Joins each scan component to its frame component and checks that the MCU layout is one we
// decode: every component sampled at the full or at half the largest rate in both directions.
Status CJpegCoefReader::SetUpComponents() {
  largestH_ = 0;
  largestV_ = 0;
  int32_t blocksPerMcu = 0;
  for (int i = 0; i < header_.scanComponentCount; ++i) {
    JpegScanComponent& scan = header_.scanComponents[static_cast<std::size_t>(i)];
    const auto frameEnd = header_.frameComponents.begin() + header_.frameComponentCount;
    const auto frame = std::find_if(header_.frameComponents.begin(), frameEnd,
                                    [&](const JpegFrameComponent& c) { return c.id == scan.id; });
    if (frame == frameEnd) return Error{ErrorKind::kDamaged, "a scan component that is not in the frame header"};
    scan.h = frame->h;
    scan.v = frame->v;
    scan.quantTable = frame->quantTable;
    if (scan.h == 0 || scan.v == 0 || scan.h > kMaxSamplingFactor || scan.v > kMaxSamplingFactor) {
      return Error{ErrorKind::kDamaged, "a sampling factor outside 1 ... 4"};
    }
    largestH_ = std::max<int32_t>(largestH_, scan.h);
    largestV_ = std::max<int32_t>(largestV_, scan.v);
    blocksPerMcu += scan.h * scan.v;
  }
  if (blocksPerMcu > kMaxBlocksPerMcu) return Error{ErrorKind::kDamaged, "more than ten blocks in an MCU"};
  for (int i = 0; i < header_.scanComponentCount; ++i) {
    const JpegScanComponent& scan = header_.scanComponents[static_cast<std::size_t>(i)];
    const bool full = largestH_ == scan.h && largestV_ == scan.v;
    const bool half = largestH_ == 2 * scan.h && largestV_ == 2 * scan.v;
    if (!full && !half) return Error{ErrorKind::kUnsupported, "sampling other than 4:2:0 and 4:4:4"};
  }
  mcuWidth_ = 8 * largestH_;
  mcuHeight_ = 8 * largestV_;
  return {};
}

Status CJpegCoefReader::DecodeAllMcus() {
  const int64_t across = (int64_t{header_.width} + mcuWidth_ - 1) / mcuWidth_;
  const int64_t down = (int64_t{header_.height} + mcuHeight_ - 1) / mcuHeight_;
  int64_t blocksPerMcu = 0;
  for (int c = 0; c < 3; ++c) {
    const JpegScanComponent& scan = header_.scanComponents[static_cast<std::size_t>(c)];
    blocksPerMcu += scan.h * scan.v;
  }
  const int64_t blocks = across * down * blocksPerMcu;
  if (blocks == 0) return Error{ErrorKind::kDamaged, "its frame header gives a picture of no pixels"};
  if (blocks > kMaxCoefficientBlocks) {
    return Error{ErrorKind::kRefused, std::to_string(blocks) + " blocks, more than the 30,000 the reader holds"};
  }
  store_.assign(static_cast<std::size_t>(blocks), CoefficientBlock{});

  dcPredictors_ = {};
  restartCounter_ = 0;
  bits_.StartBits();
  std::size_t filled = 0;
  for (int64_t mcu = 0; mcu < across * down; ++mcu) {
    for (int c = 0; c < 3; ++c) {
      const JpegScanComponent& scan = header_.scanComponents[static_cast<std::size_t>(c)];
      for (int block = 0; block < scan.h * scan.v; ++block) DecodeBlock(c, store_[filled++]);
    }
    // The MCU took bits from beyond the end of the data: the stream is truncated and the MCU
    // incomplete, so decoding stops without it.
    if (bits_.Exhausted()) {
      filled -= static_cast<std::size_t>(blocksPerMcu);
      break;
    }
    if (header_.restartInterval == 0 || ++restartCounter_ < header_.restartInterval) continue;
    restartCounter_ = 0;
    bits_.StopBits();
    if (bits_.FindRestart() != 0) dcPredictors_ = {};
    bits_.StartBits();
  }
  store_.resize(filled);
  if (static_cast<int64_t>(filled) < blocks) {
    return Error{ErrorKind::kDamaged,
                 "the stream ends after " + std::to_string(filled) + " of its " + std::to_string(blocks) + " blocks"};
  }
  return {};
}

void CJpegCoefReader::DecodeBlock(int component, CoefficientBlock& block) {
  const JpegScanComponent& scan = header_.scanComponents[static_cast<std::size_t>(component)];
  const std::array<int32_t, 64>& quant = header_.quantTables[scan.quantTable];
  const int size = DecodeSymbol(header_.huffTables[scan.dcTable]);  // at most 15: checked when built
  int32_t& predictor = dcPredictors_[static_cast<std::size_t>(component)];
  predictor += size > 0 ? ReceiveExtend(size) : 0;
  block[0] = Dequantise(predictor, quant[0]);

  const HuffDecodeTable& ac = header_.huffTables[4u + scan.acTable];
  for (int k = 1; k < 64;) {
    const uint8_t runSize = DecodeSymbol(ac);
    if (runSize == 0) return;  // end of block: the rest stays 0
    const int run = runSize >> 4;
    const int bitCount = runSize & 15;
    const int32_t value = bitCount > 0 ? ReceiveExtend(bitCount) : 0;
    if (k + run > 63) return;  // a run past the last position (damaged data) ends the block
    k += run;
    block[kZigZag[static_cast<std::size_t>(k)]] = Dequantise(value, quant[static_cast<std::size_t>(k)]);
    ++k;
  }
}

uint8_t CJpegCoefReader::DecodeSymbol(const HuffDecodeTable& table) {
  return search_ == HuffmanSearch::Linear ? table.DecodeLinear(bits_) : table.Decode(bits_);
}

// Reads `size` bits, most significant first, and extends them to a signed value (T.81 F.2.2.1).
int32_t CJpegCoefReader::ReceiveExtend(int size) {
  int32_t value = 0;
  if (search_ == HuffmanSearch::Linear) {
    for (int i = 0; i < size; ++i) value = value * 2 + bits_.GetBit();
  } else {
    value = static_cast<int32_t>(bits_.GetBits(size));
  }
  if (value < (1 << (size - 1))) value += 1 - (1 << size);
  return value;
}

}  // namespace reel
