// Feeds arbitrary bytes to the coefficient reader. Damaged and hostile streams must be refused or
// decoded without reading or writing outside any buffer, and the table-driven Huffman decode must
// give exactly what the linear search gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "converter/jpeg/byte_source.h"
#include "converter/jpeg/jpeg_coef_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  reel::CByteSource fastSource(bytes);
  reel::CJpegCoefReader fast(reel::CJpegCoefReader::HuffmanSearch::Fast);
  const reel::Status fastResult = fast.Decode(fastSource);
  reel::CByteSource linearSource(bytes);
  reel::CJpegCoefReader linear(reel::CJpegCoefReader::HuffmanSearch::Linear);
  const reel::Status linearResult = linear.Decode(linearSource);
  if (fastResult.ok() != linearResult.ok()) std::abort();
  if (!fastResult.ok() && fastResult.kind() != linearResult.kind()) std::abort();
  if (fast.BlockCount() != linear.BlockCount()) std::abort();
  for (int32_t i = 0; i < fast.BlockCount(); ++i) {
    if (fast.Blocks()[static_cast<std::size_t>(i)] != linear.Blocks()[static_cast<std::size_t>(i)]) std::abort();
  }
  if (fast.BlockCount() > 30000) std::abort();
  return 0;
}
