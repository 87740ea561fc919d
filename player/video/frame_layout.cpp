#include "player/video/frame_layout.h"

#include <algorithm>
#include <cstddef>

#include "common/byte_io.h"
#include "common/qrx_format.h"

namespace reel {
namespace {

constexpr std::size_t kDcCountBytes = kDcSymbolCount * 4;
constexpr std::size_t kQuantTableBytes = 64;

// The bytes [offset, offset + length) of the frame, or none when they are not all there.
std::optional<std::span<const uint8_t>> Part(std::span<const uint8_t> frame, uint64_t offset,
                                             uint64_t length) {
  if (offset > frame.size() || length > frame.size() - offset) return std::nullopt;
  return frame.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

DcCounts ReadDcCounts(std::span<const uint8_t> bytes) {
  DcCounts counts{};
  ByteReader in(bytes);
  for (int32_t& count : counts) count = in.I32();
  return counts;
}

void CopyTable(std::span<const uint8_t> bytes, FrameQuantTable& table) {
  std::copy_n(bytes.begin(), table.size(), table.begin());
}

}  // namespace

std::optional<FrameLayout> ReadFrameLayout(std::span<const uint8_t> frame) {
  if (frame.size() < kQrxFrameHeaderSize) return std::nullopt;
  const QrxFrameHeader header = ReadQrxFrameHeader(frame.first<kQrxFrameHeaderSize>());
  if (header.width == 0 || header.height == 0) return std::nullopt;

  FrameLayout layout;
  layout.width = header.width;
  layout.height = header.height;

  uint64_t offset = header.headerSize;
  const auto dcCounts = Part(frame, offset, kDcCountBytes);
  if (!dcCounts) return std::nullopt;
  layout.dcCounts = ReadDcCounts(*dcCounts);
  offset += kDcCountBytes;

  const auto acCounts = UnpackAcCounts(frame.subspan(static_cast<std::size_t>(offset)));
  if (!acCounts) return std::nullopt;
  layout.acCounts = acCounts->counts;
  offset += acCounts->paddedLength;

  layout.hasTables = (header.flags & kFrameFlagHasTables) != 0;
  if (layout.hasTables) {
    const auto tables = Part(frame, offset, 2 * kQuantTableBytes);
    if (!tables) return std::nullopt;
    CopyTable(tables->first(kQuantTableBytes), layout.lumaQuant);
    CopyTable(tables->last(kQuantTableBytes), layout.chromaQuant);
    offset += 2 * kQuantTableBytes;
  }

  const auto dcStream = Part(frame, offset, header.dcStreamSize);
  if (!dcStream) return std::nullopt;
  layout.dcStream = *dcStream;
  offset += header.dcStreamSize;
  layout.acStream = frame.subspan(static_cast<std::size_t>(offset));
  return layout;
}

}  // namespace reel
