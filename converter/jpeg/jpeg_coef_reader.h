// CJpegCoefReader: our own baseline JPEG parser that stops at the DCT coefficients.
//
// It reads the marker segments of one stream (T.81 Annex B), builds the Huffman tables (Annex C)
// and entropy-decodes every 8 x 8 block (F.2.2) into a coefficient store, never computing pixels.
// Blocks are stored in MCU order, each component's blocks of an MCU in scan order, every value
// dequantised (coefficient x its quantisation value) in natural order with an absolute DC. For the
// encoder's 4:2:0 streams that is six blocks per 16 x 16 macroblock: the frame coder's
// CoefficientSet. Restart intervals, DNL, 16-bit and multi-table DQT, 4:4:4 sampling and bytes
// before the SOI are accepted; anything else is refused with an error and a block count of 0
// rather than decoded wrongly: progressive or lossless frames, precision other than 8, scans of
// other than 3 components, sampling other than 1:1 or 2:1 in both directions, a scan component
// without a frame component, a zero sampling factor, or more than 30,000 blocks. A segment whose
// table ids, classes, component count or length are out of range is ignored as a whole. A stream
// that ends early stops decoding at the first MCU that would need bytes past its end: the block
// count then falls short of the picture, and Decode says so.
//
// The reader keeps no error state beyond that: damaged entropy-coded data gives damaged blocks.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "common/coefficient_set.h"
#include "common/result.h"
#include "converter/jpeg/byte_source.h"
#include "converter/jpeg/jpeg_bit_reader.h"
#include "converter/jpeg/jpeg_header_info.h"

namespace reel {

class CJpegCoefReader {
 public:
  // Linear is the plain code-list search reading one bit at a time, kept as the reference for the
  // table-driven default; both give the same outcome on every stream, damaged ones included.
  enum class HuffmanSearch { Fast, Linear };

  explicit CJpegCoefReader(HuffmanSearch search = HuffmanSearch::Fast) : search_(search) {}

  // Parses one whole stream. The blocks, the two quantisation tables, the width and the height
  // are read from the accessors below whatever the result: a refused stream keeps no blocks (but
  // still reports its frame header), and a stream cut short keeps the whole MCUs before the cut.
  // The result says why a stream was refused or cut short; its messages name no file.
  Status Decode(CByteSource& source);

  int32_t BlockCount() const { return static_cast<int32_t>(store_.size()); }
  std::span<const CoefficientBlock> Blocks() const { return store_; }
  const std::array<int32_t, 64>& QuantTable(int index) const { return index == 0 ? quant0_ : quant1_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  const JpegHeaderInfo& Header() const { return header_; }

  // Hands the result over to the frame coder (the blocks are moved out).
  CoefficientSet TakeCoefficients();

 private:
  Status DecodeStream();
  bool ParseHeader();
  Status CheckHeader() const;
  void ReadSegment(uint8_t marker);
  void ReadFrameHeader(uint8_t marker, std::span<const uint8_t> body);
  void ReadHuffmanTables(std::span<const uint8_t> body);
  void ReadQuantTables(std::span<const uint8_t> body);
  void ReadScanHeader(std::span<const uint8_t> body);
  Status SetUpComponents();
  Status DecodeAllMcus();
  void DecodeBlock(int component, CoefficientBlock& block);
  uint8_t DecodeSymbol(const HuffDecodeTable& table);
  int32_t ReceiveExtend(int size);

  std::vector<CoefficientBlock> store_;  // the block count is its size
  std::array<int32_t, 64> quant0_{};
  std::array<int32_t, 64> quant1_{};
  int32_t width_ = 0;
  int32_t height_ = 0;
  JpegHeaderInfo header_;
  CJpegBitReader bits_;
  int32_t largestH_ = 0;
  int32_t largestV_ = 0;
  int32_t mcuWidth_ = 0;
  int32_t mcuHeight_ = 0;
  std::array<int32_t, 3> dcPredictors_{};
  int32_t restartCounter_ = 0;
  HuffmanSearch search_;
};

}  // namespace reel
