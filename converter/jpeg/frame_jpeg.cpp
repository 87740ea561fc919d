#include "converter/jpeg/frame_jpeg.h"

#include <algorithm>
#include <cstddef>

#include "converter/jpeg/jpeg_codec.h"

namespace reel {
namespace {

// Releases the codec context on every path out of an operation.
class CodecSession {
 public:
  CodecSession() { initialised_ = CodecInit(properties_) == CodecOk; }
  ~CodecSession() { CodecFree(properties_); }
  CodecSession(const CodecSession&) = delete;
  CodecSession& operator=(const CodecSession&) = delete;

  bool Initialised() const { return initialised_; }
  JpegCoreProperties& Properties() { return properties_; }

 private:
  JpegCoreProperties properties_;
  bool initialised_ = false;
};

struct DecodeSetup {
  int32_t jpgColor;
  int32_t dibColor;
  int32_t channels;
};

std::optional<DecodeSetup> SetupFor(int32_t jpegChannels) {
  switch (jpegChannels) {
    case 1: return DecodeSetup{ColorGrey, ColorRgb, 3};
    case 3: return DecodeSetup{ColorYCbCr, ColorRgb, 3};
    case 4: return DecodeSetup{ColorYCbCrA, ColorRgba, 4};
    default: return std::nullopt;  // no defined blue, green and red bytes
  }
}

// Decoded rows (top-down, packed, red first) to a bottom-up 24-bit picture.
BmpImage ToBottomUpBgr(std::span<const uint8_t> decoded, uint32_t channels, BmpImage picture) {
  const uint32_t width = picture.Width();
  const uint32_t height = picture.Height();
  const std::size_t rowBytes = std::size_t{width} * channels;
  for (uint32_t r = 0; r < height; ++r) {
    const auto source = decoded.subspan(r * rowBytes, rowBytes);
    auto target = picture.Row(height - 1 - r);
    for (uint32_t x = 0; x < width; ++x) {
      const auto pixel = source.subspan(std::size_t{x} * channels, 3);
      target[std::size_t{x} * 3] = pixel[2];
      target[std::size_t{x} * 3 + 1] = pixel[1];
      target[std::size_t{x} * 3 + 2] = pixel[0];
    }
  }
  return picture;
}

}  // namespace

std::optional<std::vector<uint8_t>> EncodeFrameJpeg(const BmpImage& picture, int32_t quality) {
  std::vector<uint8_t> output;
  const std::optional<std::size_t> length = EncodeFrameJpegInto(picture, quality, output);
  if (!length) return std::nullopt;
  output.resize(*length);
  return output;
}

namespace {

// Sets up the session's properties for compressing `picture` into `buffer`; false when the picture
// is not 24 bits per pixel.
bool PrepareEncoding(JpegCoreProperties& p, const BmpImage& picture, int32_t quality, std::vector<uint8_t>& buffer) {
  if (picture.BitsPerPixel() != 24) return false;
  const uint32_t width = picture.Width();
  const uint32_t height = picture.Height();
  const uint32_t stride = picture.Stride();
  const uint32_t capacity = 3 * width * height + kJpegHeaderAllowance;
  if (buffer.size() < capacity) buffer.resize(capacity);
  // Stored row k goes to the codec as row k: the stored rows are read in place, top-down.
  p.dibSource = std::span<const uint8_t>(picture.Row(0).data(), std::size_t{stride} * height);
  p.dibWidth = static_cast<int32_t>(width);
  p.dibHeight = static_cast<int32_t>(height);
  p.dibPadBytes = static_cast<int32_t>(stride - 3 * width);
  p.dibChannels = 3;
  p.dibColor = ColorBgr;
  p.jpgBytes = buffer;
  p.jpgSizeBytes = capacity;
  p.jpgWidth = static_cast<int32_t>(width);
  p.jpgHeight = static_cast<int32_t>(height);
  p.jpgChannels = 3;
  p.jpgColor = ColorYCbCr;
  p.jpgSubsampling = Subsample2x2;
  p.jpgQuality = quality;
  return true;
}

}  // namespace

std::optional<std::size_t> EncodeFrameJpegInto(const BmpImage& picture, int32_t quality, std::vector<uint8_t>& buffer) {
  CodecSession session;
  if (!session.Initialised()) return std::nullopt;
  JpegCoreProperties& p = session.Properties();
  if (!PrepareEncoding(p, picture, quality, buffer)) return std::nullopt;
  if (CodecWrite(p, WriteWholeImageToMemory) != CodecOk) return std::nullopt;
  return std::size_t{p.jpgSizeBytes};
}

bool EncodeFrameJpegKeepingCoefficients(const BmpImage& picture, int32_t quality, std::vector<uint8_t>& buffer,
                                        QuantisedSet& coefficients, EntropyPass& pass) {
  CodecSession session;
  if (!session.Initialised()) return false;
  JpegCoreProperties& p = session.Properties();
  if (!PrepareEncoding(p, picture, quality, buffer)) return false;
  return CodecWriteKeepingCoefficients(p, WriteWholeImageToMemory, coefficients, pass) == CodecOk;
}

std::optional<BmpImage> DecodeFrameJpeg(std::span<const uint8_t> jpeg) {
  CodecSession session;
  if (!session.Initialised() || jpeg.empty() || jpeg.size() > UINT32_MAX) return std::nullopt;
  JpegCoreProperties& p = session.Properties();
  p.jpgSource = jpeg;
  p.jpgSizeBytes = static_cast<uint32_t>(jpeg.size());
  if (CodecRead(p, ReadParamsFromMemory) != CodecOk) return std::nullopt;

  const std::optional<DecodeSetup> setup = SetupFor(p.jpgChannels);
  if (!setup || p.jpgWidth <= 0 || p.jpgHeight <= 0) return std::nullopt;
  const auto width = static_cast<uint32_t>(p.jpgWidth);
  const auto height = static_cast<uint32_t>(p.jpgHeight);
  if (uint64_t{width} * height > kMaxDecodedPixels) return std::nullopt;
  std::optional<BmpImage> picture = BmpImage::Create(width, height, 24);
  if (!picture) return std::nullopt;

  std::vector<uint8_t> decoded(std::size_t{width} * height * static_cast<uint32_t>(setup->channels));
  p.jpgColor = setup->jpgColor;
  p.dibColor = setup->dibColor;
  p.dibChannels = setup->channels;
  p.dibWidth = p.jpgWidth;
  p.dibHeight = p.jpgHeight;
  p.dibPadBytes = 0;
  p.dibBytes = decoded;
  if (CodecRead(p, ReadWholeImageFromMemory) != CodecOk) return std::nullopt;
  return ToBottomUpBgr(decoded, static_cast<uint32_t>(setup->channels), std::move(*picture));
}

}  // namespace reel
