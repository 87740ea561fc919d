#include "hand_frame.h"

#include <span>

#include "common/byte_io.h"
#include "common/code_tree.h"
#include "common/qrx_format.h"

namespace reel::test {
namespace {

uint32_t MagnitudeCategory(int32_t value) {
  const uint32_t magnitude = value < 0 ? static_cast<uint32_t>(-value) : static_cast<uint32_t>(value);
  uint32_t size = 0;
  while (size < 15 && magnitude > (1u << size) - 1) ++size;
  return size;
}

uint32_t ValueBits(int32_t value, uint32_t size) {
  const uint32_t mask = (1u << size) - 1;
  if (value >= 0) return static_cast<uint32_t>(value) & mask;
  return (static_cast<uint32_t>(value) & mask) - 1;
}

// Bits go into 32-bit words from the least significant end; a flush completes the last word.
class TestBitWriter {
 public:
  void Bit(uint32_t bit) {
    if (count_ % 32 == 0) words_.push_back(0);
    words_.back() |= (bit & 1u) << (count_ % 32);
    ++count_;
  }
  void Code(const std::string& word) {
    for (char c : word) Bit(c == '1' ? 1 : 0);
  }
  void Value(uint32_t bits, uint32_t count) {
    for (uint32_t i = count; i > 0; --i) Bit(bits >> (i - 1));
  }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out;
    ByteWriter writer(out);
    for (uint32_t word : words_) writer.U32(word);
    return out;
  }

 private:
  std::vector<uint32_t> words_;
  uint32_t count_ = 0;
};

template <std::size_t N>
std::array<int32_t, N> CountSymbols(const std::vector<StreamSymbol>& symbols) {
  std::array<int32_t, N> counts{};
  for (const StreamSymbol& s : symbols) ++counts[static_cast<std::size_t>(s.symbol)];
  return counts;
}

std::vector<std::string> CodeWords(const std::vector<int32_t>& counts) {
  const CodeTree tree = BuildCodeTreeLinear(counts);
  std::vector<std::string> words(counts.size());
  for (std::size_t symbol = 0; symbol < counts.size(); ++symbol) {
    std::string path;
    for (int32_t node = static_cast<int32_t>(symbol);
         tree.parent[static_cast<std::size_t>(node)] >= 0;) {
      const int32_t up = tree.parent[static_cast<std::size_t>(node)];
      path.insert(path.begin(), tree.child0[static_cast<std::size_t>(up)] == node ? '0' : '1');
      node = up;
    }
    words[symbol] = path;
  }
  return words;
}

std::vector<uint8_t> WriteStream(const std::vector<StreamSymbol>& symbols,
                                 const std::vector<int32_t>& counts) {
  const std::vector<std::string> words = CodeWords(counts);
  TestBitWriter writer;
  for (const StreamSymbol& s : symbols) {
    writer.Code(words[static_cast<std::size_t>(s.symbol)]);
    writer.Value(s.valueBits, s.valueBitCount);
  }
  return writer.Bytes();
}

}  // namespace

StreamSymbol DcValue(int32_t difference) {
  const uint32_t size = MagnitudeCategory(difference);
  return {static_cast<int32_t>(size), ValueBits(difference, size), size};
}

StreamSymbol AcValue(uint32_t run, int32_t value) {
  const uint32_t size = MagnitudeCategory(value);
  return {static_cast<int32_t>(run * 16 + size), ValueBits(value, size), size};
}

StreamSymbol AcSymbol(int32_t symbol) { return {symbol, 0, 0}; }

std::string CodeWord(const std::vector<int32_t>& counts, int32_t symbol) {
  return CodeWords(counts)[static_cast<std::size_t>(symbol)];
}

std::vector<uint8_t> BuildFrame(const HandFrame& frame) {
  const DcCounts dcCounts = frame.dcCounts.value_or(CountSymbols<kDcSymbolCount>(frame.dc));
  const AcCounts acCounts = frame.acCounts.value_or(CountSymbols<kAcSymbolCount>(frame.ac));
  const std::vector<uint8_t> dcStream =
      WriteStream(frame.dc, std::vector<int32_t>(dcCounts.begin(), dcCounts.end()));
  const std::vector<uint8_t> acStream =
      WriteStream(frame.ac, std::vector<int32_t>(acCounts.begin(), acCounts.end()));

  QrxFrameHeader header;
  header.flags = frame.withTables ? kFrameFlagsWritten : 1u;
  header.quality = 50;
  header.width = frame.width;
  header.height = frame.height;
  header.dcStreamSize =
      frame.dcStreamSizeOverride.value_or(static_cast<uint32_t>(dcStream.size()));
  header.acStreamSize = static_cast<uint32_t>(acStream.size());

  std::vector<uint8_t> out(kQrxFrameHeaderSize);
  WriteQrxFrameHeader(header, std::span<uint8_t, kQrxFrameHeaderSize>(out.data(), kQrxFrameHeaderSize));
  ByteWriter writer(out);
  for (int32_t count : dcCounts) writer.I32(count);
  writer.Bytes(PackAcCounts(acCounts));
  if (frame.withTables) {
    writer.Bytes(frame.lumaQuant);
    writer.Bytes(frame.chromaQuant);
  }
  writer.Bytes(dcStream);
  writer.Bytes(acStream);
  return out;
}

HandFrame DcOnlyFrame(uint16_t width, uint16_t height, const std::vector<int32_t>& dcValues) {
  HandFrame frame;
  frame.width = width;
  frame.height = height;
  int32_t previous = 0;
  for (int32_t value : dcValues) {
    frame.dc.push_back(DcValue(value - previous));
    frame.ac.push_back(AcSymbol(0));
    previous = value;
  }
  return frame;
}

FrameOffsets OffsetsOf(const std::vector<uint8_t>& frame) {
  const QrxFrameHeader header =
      ReadQrxFrameHeader(std::span<const uint8_t, kQrxFrameHeaderSize>(frame.data(), kQrxFrameHeaderSize));
  FrameOffsets offsets;
  offsets.acCounts = header.headerSize + kDcSymbolCount * 4;
  const auto unpacked = UnpackAcCounts(std::span(frame).subspan(offsets.acCounts));
  offsets.tables = offsets.acCounts + unpacked->paddedLength;
  offsets.dcStream = offsets.tables + ((header.flags & kFrameFlagHasTables) != 0 ? 128 : 0);
  offsets.acStream = offsets.dcStream + header.dcStreamSize;
  return offsets;
}

}  // namespace reel::test
