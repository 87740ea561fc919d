// Arbitrary bytes as an AVI file through the AVI layer: the streams' headers and format blocks,
// each stream's raw data read whole, and the pictures of the first video stream fetched forwards
// and backwards, each also grabbed and converted later. Every picture must be a packed DIB whose header matches its size. Pictures are
// fetched only when the stream's format block declares a size a real source has (at most 1024 x
// 1024 pixels); larger declared sizes still go through the headers and the raw reads.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "common/byte_io.h"
#include "platform/avifile/avi_file.h"
#include "platform/avifile/avi_frame_reader.h"
#include "tests/fuzz/input_file.h"

namespace {

constexpr uint32_t kMaxStreams = 4;
constexpr int64_t kMaxDeclaredPixels = 1024 * 1024;

bool DeclaredSizeIsReal(const std::vector<uint8_t>& format) {
  if (format.size() < reel::kBitmapInfoHeaderSize) return false;
  reel::ByteReader header(format);
  header.Skip(4);
  const int64_t width = header.I32();
  const int64_t height = header.I32();
  return width > 0 && height != 0 && width * (height < 0 ? -height : height) <= kMaxDeclaredPixels;
}

void CheckDib(const std::vector<uint8_t>& dib, uint32_t leadingBytes) {
  const auto header = std::span(dib).subspan(leadingBytes);
  if (header.size() < reel::kBitmapInfoHeaderSize) std::abort();
  reel::ByteReader fields(header);
  fields.Skip(4);
  const uint32_t width = fields.U32();
  const uint32_t height = fields.U32();
  const uint64_t rowBytes = (uint64_t{width} * 3 + 3) / 4 * 4;
  if (width == 0 || height == 0 || header.size() != reel::kBitmapInfoHeaderSize + rowBytes * height) std::abort();
}

void ReadPictures(reel::AviFile& file, uint32_t stream) {
  // One decoder thread: the pictures are the same, without threads started for every input.
  auto reader = file.OpenFrameReader(stream, reel::DecoderThreads::kOne);
  if (!reader) return;
  constexpr uint32_t kVisits[] = {0, 1, 3, 2, 0};
  reel::AviFrameConverter converter;
  for (const uint32_t position : kVisits) {
    const uint32_t leading = position == 3 ? 14 : 0;
    if (const auto dib = reader->GetFrame(position, leading)) CheckDib(*dib, leading);
    // The same picture grabbed and converted later, as a coder thread converts it.
    if (const auto grabbed = reader->GrabFrame(position)) {
      if (const auto dib = converter.Convert(*grabbed, leading)) CheckDib(*dib, leading);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const reel::fuzz::InputFile input;
  if (!input.Write(std::span(data, size))) return 0;
  auto opened = reel::AviFile::Open(input.Path());
  if (!opened) return 0;
  reel::AviFile& file = *opened;
  const uint32_t streams = std::min(file.StreamCount(), kMaxStreams);
  std::optional<uint32_t> video;
  for (uint32_t s = 0; s < streams; ++s) {
    const reel::AviStreamInfo info = file.StreamInfo(s);
    const std::vector<uint8_t> format = file.ReadFormat(s);
    if (info.fccType == reel::kStreamTypeVideo && !video && DeclaredSizeIsReal(format)) video = s;
    (void)file.ReadWholeStream(s);
  }
  if (video) ReadPictures(file, *video);
  return 0;
}
