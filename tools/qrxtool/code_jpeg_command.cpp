// qrxtool code-jpeg: codes the coefficients of a baseline 4:2:0 JPEG as one "JBP1" frame file.
//
// The JPEG is parsed with the converter's own coefficient reader and its blocks go to the frame
// coder unchanged, so the frame is exactly the one the frame format defines for that JPEG's
// coefficients. The quality is only stored in the frame header.
#include <charconv>

#include "converter/coder/frame_coder.h"
#include "converter/jpeg/byte_source.h"
#include "converter/jpeg/jpeg_coef_reader.h"
#include "tools/qrxtool/commands.h"
#include "tools/qrxtool/movie_file.h"
#include "tools/qrxtool/picture_output.h"

namespace reel {
namespace {

constexpr int32_t kDefaultQuality = 50;

// The frame's two tables cover the JPEG only when luminance is sampled 2 x 2 with table 0 and both
// chrominance components 1 x 1 with table 1, in the scan order Y, Cb, Cr.
std::optional<std::string> LayoutProblem(const JpegHeaderInfo& header) {
  if (header.frameComponentCount != 3 || header.scanComponentCount != 3) return "it does not have three components";
  const auto& scan = header.scanComponents;
  if (scan[0].h != 2 || scan[0].v != 2 || scan[1].h != 1 || scan[1].v != 1 || scan[2].h != 1 || scan[2].v != 1) {
    return "it is not sampled 4:2:0 (luminance 2 x 2, chrominance 1 x 1)";
  }
  if (scan[0].quantTable != 0 || scan[1].quantTable != 1 || scan[2].quantTable != 1) {
    return "its luminance does not use quantisation table 0 and its chrominance table 1";
  }
  return std::nullopt;
}

}  // namespace

std::optional<int32_t> ParseQuality(const std::string& text) {
  int32_t quality = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), quality);
  if (ec != std::errc() || end != text.data() + text.size() || quality < 1 || quality > 100) return std::nullopt;
  return quality;
}

int RunCodeJpeg(const std::vector<std::string>& args) {
  const auto parsed = ParseArguments("code-jpeg", args);
  if (!parsed) return 2;
  if (parsed->positional.size() != 2) return UsageError("code-jpeg", "expected a JPEG file and an output file");
  int32_t quality = kDefaultQuality;
  if (const auto option = parsed->options.find("--quality"); option != parsed->options.end()) {
    const std::optional<int32_t> value = ParseQuality(option->second);
    if (!value) return UsageError("code-jpeg", "quality '" + option->second + "' is not a number from 1 to 100");
    quality = *value;
  }
  const std::string& path = parsed->positional[0];
  const auto jpeg = ReadWholeFile(path);
  if (!jpeg) return Fail(jpeg.error());

  CByteSource source(*jpeg);
  CJpegCoefReader reader;
  if (const Status decoded = reader.Decode(source); !decoded) {
    return Fail(path, "cannot be coded: " + decoded.error().message);
  }
  if (const auto problem = LayoutProblem(reader.Header())) return Fail(path, "cannot be coded: " + *problem);
  const auto frame = CodeCoefficients(reader.TakeCoefficients(), quality);
  if (!frame) return Fail(path, "beyond the frame format's limits (size, table entries of 0 or stream length)");
  if (Status written = WriteBytesToFile(parsed->positional[1], *frame); !written) return Fail(written.error());
  return 0;
}

}  // namespace reel
