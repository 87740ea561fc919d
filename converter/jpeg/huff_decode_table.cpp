#include "converter/jpeg/huff_decode_table.h"

#include <algorithm>
#include <numeric>

namespace reel {

int32_t HuffCodeCount(std::span<const uint8_t, 16> counts) {
  return std::accumulate(counts.begin(), counts.end(), int32_t{0});
}

bool HuffDecodeTable::Build(std::span<const uint8_t, 16> counts, std::span<const uint8_t> symbols, bool isDc) {
  const int32_t total = HuffCodeCount(counts);
  if (total > 256 || static_cast<std::size_t>(total) != symbols.size()) return false;
  std::vector<Code> codes;
  codes.reserve(static_cast<std::size_t>(total));
  std::array<int32_t, 17> maxCode{};
  std::array<int32_t, 17> minCode{};
  std::array<int32_t, 17> firstIndex{};
  int maxLength = 0;
  uint32_t code = 0;
  for (int length = 1; length <= 16; ++length) {
    const uint8_t count = counts[static_cast<std::size_t>(length - 1)];
    minCode[static_cast<std::size_t>(length)] = static_cast<int32_t>(code);
    firstIndex[static_cast<std::size_t>(length)] = static_cast<int32_t>(codes.size());
    maxCode[static_cast<std::size_t>(length)] = -1;
    for (uint8_t i = 0; i < count; ++i) {
      // A code that needs more bits than its length means the counts over-subscribe the tree.
      if (code >= (1u << length)) return false;
      const uint8_t symbol = symbols[codes.size()];
      if (isDc && symbol > 15) return false;
      codes.push_back({static_cast<uint16_t>(code), static_cast<uint8_t>(length), symbol});
      maxCode[static_cast<std::size_t>(length)] = static_cast<int32_t>(code);
      maxLength = length;
      ++code;
    }
    code <<= 1;
  }
  std::array<uint16_t, kLookupSize> lookup{};
  for (const Code& entry : codes) {
    if (entry.length > CJpegBitReader::kPeekBits) break;  // lengths ascend
    const int spare = CJpegBitReader::kPeekBits - entry.length;
    const std::size_t first = std::size_t{entry.code} << spare;
    std::fill_n(lookup.begin() + static_cast<std::ptrdiff_t>(first), std::size_t{1} << spare,
                static_cast<uint16_t>((entry.length << 8) | entry.symbol));
  }
  codes_ = std::move(codes);
  lookup_ = lookup;
  maxCode_ = maxCode;
  minCode_ = minCode;
  firstIndex_ = firstIndex;
  maxLength_ = maxLength;
  return true;
}

uint8_t HuffDecodeTable::DecodeLinear(CJpegBitReader& bits) const {
  uint32_t accumulator = 0;
  int read = 0;
  for (const Code& entry : codes_) {
    while (read < entry.length) {
      accumulator = accumulator * 2 + static_cast<uint32_t>(bits.GetBit());
      ++read;
    }
    if (static_cast<uint16_t>(accumulator) == entry.code) return entry.symbol;
  }
  return 0;
}

uint8_t HuffDecodeTable::Decode(CJpegBitReader& bits) const {
  uint32_t next = 0;
  if (!bits.PeekBits(next)) return DecodeByLength(bits);
  const uint16_t entry = lookup_[next];
  if (entry == 0) return DecodeByLength(bits);
  bits.SkipBits(entry >> 8);
  return static_cast<uint8_t>(entry);
}

uint8_t HuffDecodeTable::DecodeByLength(CJpegBitReader& bits) const {
  int32_t code = 0;
  for (int length = 1; length <= maxLength_; ++length) {
    code = code * 2 + bits.GetBit();
    const auto l = static_cast<std::size_t>(length);
    if (code <= maxCode_[l]) return codes_[static_cast<std::size_t>(firstIndex_[l] + code - minCode_[l])].symbol;
  }
  return 0;
}

}  // namespace reel
