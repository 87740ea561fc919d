#include "common/symbol_counts.h"

#include <algorithm>

#include "common/byte_io.h"

namespace reel {
namespace {

constexpr std::size_t kLongestRun = 256;

std::size_t RoundUpTo4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

}  // namespace

std::vector<uint8_t> PackAcCounts(const AcCounts& counts) {
  std::vector<uint8_t> raw;
  raw.reserve(kAcCountBytes);
  ByteWriter rawWriter(raw);
  for (int32_t count : counts) rawWriter.I32(count);

  std::vector<uint8_t> packed;
  std::size_t i = 0;
  while (i < raw.size()) {
    if (raw[i] != 0) {
      packed.push_back(raw[i++]);
      continue;
    }
    std::size_t run = 0;
    while (i < raw.size() && raw[i] == 0 && run < kLongestRun) {
      ++run;
      ++i;
    }
    packed.push_back(0);
    packed.push_back(static_cast<uint8_t>(run - 1));
  }
  packed.resize(RoundUpTo4(packed.size()), 0);
  return packed;
}

std::optional<UnpackedAcCounts> UnpackAcCounts(std::span<const uint8_t> bytes) {
  std::array<uint8_t, kAcCountBytes> raw{};
  std::size_t produced = 0;
  std::size_t consumed = 0;
  while (produced < raw.size()) {
    if (consumed >= bytes.size()) return std::nullopt;
    const uint8_t byte = bytes[consumed++];
    if (byte != 0) {
      raw[produced++] = byte;
      continue;
    }
    if (consumed >= bytes.size()) return std::nullopt;
    const std::size_t run = std::size_t{bytes[consumed++]} + 1;
    produced += std::min(run, raw.size() - produced);  // raw is already zero
  }
  UnpackedAcCounts result;
  ByteReader in(raw);
  for (int32_t& count : result.counts) count = in.I32();
  result.paddedLength = RoundUpTo4(consumed);
  return result;
}

}  // namespace reel
