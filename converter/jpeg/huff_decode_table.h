// HuffDecodeTable: one Huffman table of a JPEG stream and the two ways of decoding with it.
//
// The table is built from a DHT group (T.81 Annex C): 16 code counts and the symbols. Its codes
// are generated in canonical order (lengths ascending, codes ascending within a length) and the
// table is validated as it is built, so decoding can trust it: at most 256 codes, no code that
// outgrows its length, and DC symbols no larger than 15. DecodeLinear is the plain reference, a
// linear search through the code list reading one bit at a time. Decode yields exactly the same
// symbol after exactly the same bits: it looks the next 9 bits up in a 512-entry table that holds
// the symbol and length of every code of up to 9 bits (nearly all codes a real stream uses), and
// falls back to the per-length search of T.81 F.2.2.3 for longer codes, for bit sequences that
// match no code, and where the bit reader cannot look ahead (a marker or the end of the data
// near). A bit sequence that matches no code decodes as symbol 0 after as many bits as the
// longest code has.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "converter/jpeg/jpeg_bit_reader.h"

namespace reel {

class HuffDecodeTable {
 public:
  struct Code {
    uint16_t code = 0;
    uint8_t length = 0;
    uint8_t symbol = 0;
  };

  // Builds the table from the code counts of lengths 1 ... 16 and the symbols in stream order.
  // On a table that breaks the rules above it returns false and the table is left unchanged.
  bool Build(std::span<const uint8_t, 16> counts, std::span<const uint8_t> symbols, bool isDc);

  uint8_t DecodeLinear(CJpegBitReader& bits) const;
  uint8_t Decode(CJpegBitReader& bits) const;
  // The per-length search alone (Decode's fallback), for tests.
  uint8_t DecodeByLength(CJpegBitReader& bits) const;

  int32_t Count() const { return static_cast<int32_t>(codes_.size()); }
  std::span<const Code> Codes() const { return codes_; }

 private:
  std::vector<Code> codes_;
  // Per code length l: the largest code of that length (-1 if none), the smallest, and the index
  // of the smallest in codes_.
  std::array<int32_t, 17> maxCode_{};
  std::array<int32_t, 17> minCode_{};
  std::array<int32_t, 17> firstIndex_{};
  int maxLength_ = 0;
  // Indexed by the next CJpegBitReader::kPeekBits bits: code length << 8 | symbol, or 0 when no
  // code of up to that many bits is a prefix of them.
  static constexpr std::size_t kLookupSize = std::size_t{1} << CJpegBitReader::kPeekBits;
  std::array<uint16_t, kLookupSize> lookup_{};
};

// Number of codes a DHT group announces: the sum of its 16 counts.
int32_t HuffCodeCount(std::span<const uint8_t, 16> counts);

}  // namespace reel
