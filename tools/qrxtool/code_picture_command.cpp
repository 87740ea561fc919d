// qrxtool code-picture: scales a P6 picture and codes it as one "JBP1" frame file, exactly as a
// conversion job codes a frame: the picture is read as a bottom-up BmpImage (as sources deliver
// it), scaled to the movie size, JPEG-compressed at the quality, parsed back and coded.
#include <cctype>
#include <charconv>

#include "converter/coder/bmp_image.h"
#include "converter/coder/picture_scaler.h"
#include "converter/engine/code_frame.h"
#include "tools/qrxtool/commands.h"
#include "tools/qrxtool/movie_file.h"
#include "tools/qrxtool/picture_output.h"

namespace reel {
namespace {

// Reads the whitespace-separated numbers of a P6 header, skipping "#" comments.
class PpmHeaderReader {
 public:
  explicit PpmHeaderReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  std::optional<uint32_t> Number() {
    SkipSpaceAndComments();
    uint32_t value = 0;
    const auto* begin = reinterpret_cast<const char*>(bytes_.data()) + position_;
    const auto* end = reinterpret_cast<const char*>(bytes_.data()) + bytes_.size();
    const auto [stop, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || stop == begin) return std::nullopt;
    position_ += static_cast<std::size_t>(stop - begin);
    return value;
  }
  // The single whitespace byte after the maximum value; the pixels follow it.
  std::optional<std::size_t> PixelStart() {
    if (position_ >= bytes_.size() || !std::isspace(bytes_[position_])) return std::nullopt;
    return position_ + 1;
  }

 private:
  void SkipSpaceAndComments() {
    while (position_ < bytes_.size()) {
      if (bytes_[position_] == '#') {
        while (position_ < bytes_.size() && bytes_[position_] != '\n') ++position_;
      } else if (std::isspace(bytes_[position_])) {
        ++position_;
      } else {
        return;
      }
    }
  }

  std::span<const uint8_t> bytes_;
  std::size_t position_ = 2;  // after "P6"
};

// A P6 picture (maximum value 255) as a bottom-up 24-bit BmpImage, or an error saying why not.
Result<BmpImage> ReadPpm(std::span<const uint8_t> bytes) {
  if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6') {
    return MakeError(ErrorKind::kNotThisFormat, "", "not a binary PPM (P6) picture");
  }
  PpmHeaderReader header(bytes);
  const auto width = header.Number();
  const auto height = header.Number();
  const auto maximum = header.Number();
  const auto start = header.PixelStart();
  if (!width || !height || !maximum || !start) {
    return MakeError(ErrorKind::kDamaged, "", "the PPM header is damaged");
  }
  if (*maximum != 255) {
    return MakeError(ErrorKind::kUnsupported, "", "only PPM pictures with a maximum value of 255 are read");
  }
  std::optional<BmpImage> picture = BmpImage::Create(*width, *height, 24);
  if (!picture) {
    return MakeError(ErrorKind::kUnsupported, "",
                     "the picture size is 0 or larger than " + std::to_string(BmpImage::kMaxDimension));
  }
  const std::size_t rowBytes = std::size_t{*width} * 3;
  if (bytes.size() - *start < rowBytes * *height) {
    return MakeError(ErrorKind::kDamaged, "", "the PPM pixel data is shorter than its header says");
  }
  for (uint32_t y = 0; y < *height; ++y) {
    const auto source = bytes.subspan(*start + y * rowBytes, rowBytes);
    auto target = picture->Row(*height - 1 - y);  // the picture's top row is stored last
    for (std::size_t x = 0; x < *width; ++x) {
      target[x * 3] = source[x * 3 + 2];
      target[x * 3 + 1] = source[x * 3 + 1];
      target[x * 3 + 2] = source[x * 3];
    }
  }
  return std::move(*picture);
}

// "WxH" with both numbers above 0.
std::optional<std::pair<uint32_t, uint32_t>> ParseSize(const std::string& text) {
  const std::size_t cross = text.find('x');
  if (cross == std::string::npos) return std::nullopt;
  uint32_t width = 0;
  uint32_t height = 0;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  const auto [widthEnd, widthError] = std::from_chars(begin, begin + cross, width);
  const auto [heightEnd, heightError] = std::from_chars(begin + cross + 1, end, height);
  if (widthError != std::errc() || widthEnd != begin + cross || heightError != std::errc() || heightEnd != end ||
      width == 0 || height == 0) {
    return std::nullopt;
  }
  return std::pair{width, height};
}

}  // namespace

int RunCodePicture(const std::vector<std::string>& args) {
  const auto parsed = ParseArguments("code-picture", args);
  if (!parsed) return 2;
  if (parsed->positional.size() != 2) return UsageError("code-picture", "expected a PPM file and an output file");
  const auto qualityOption = parsed->options.find("--quality");
  if (qualityOption == parsed->options.end()) return UsageError("code-picture", "--quality is required");
  const std::optional<int32_t> quality = ParseQuality(qualityOption->second);
  if (!quality) return UsageError("code-picture", "quality '" + qualityOption->second + "' is not a number from 1 to 100");

  const std::string& path = parsed->positional[0];
  const auto bytes = ReadWholeFile(path);
  if (!bytes) return Fail(bytes.error());
  const Result<BmpImage> picture = ReadPpm(*bytes);
  if (!picture) return Fail(path, picture.error().message);

  std::pair<uint32_t, uint32_t> size{picture->Width(), picture->Height()};
  if (const auto option = parsed->options.find("--size"); option != parsed->options.end()) {
    const auto value = ParseSize(option->second);
    if (!value) return UsageError("code-picture", "size '" + option->second + "' is not WIDTHxHEIGHT");
    size = *value;
  }
  const std::optional<BmpImage> scaled = ScalePicture(*picture, size.first, size.second);
  if (!scaled) return Fail(path, "cannot be scaled to " + std::to_string(size.first) + " x " + std::to_string(size.second));
  const auto frame = CodeFrame(*scaled, *quality);
  if (!frame) return Fail(path, "the frame could not be coded (JPEG encoding failed or the size is beyond the format)");
  if (Status written = WriteBytesToFile(parsed->positional[1], *frame); !written) return Fail(written.error());
  return 0;
}

}  // namespace reel
