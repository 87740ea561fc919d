// qrxtool thumbnail: a small picture of a movie for file managers. The frame a tenth of the way
// in stands for the movie (the first frames are often black); it is scaled by the converter's
// own area-averaging scaler to fit SIZE x SIZE, keeping its shape and never enlarged.
#include <algorithm>
#include <charconv>

#include "converter/coder/bmp_image.h"
#include "converter/coder/picture_scaler.h"
#include "converter/engine/staged_output.h"
#include "player/video/frame_decoder.h"
#include "tools/qrxtool/commands.h"
#include "tools/qrxtool/movie_file.h"
#include "tools/qrxtool/picture_output.h"
#include "tools/qrxtool/png_file.h"

namespace reel {
namespace {

constexpr uint32_t kDefaultSize = 128;
constexpr uint32_t kLargestSize = 4096;

struct Fit {
  uint32_t width = 0;
  uint32_t height = 0;
};

// The size within `box` x `box` of a picture's shape, the longer side `box` (or the picture's own
// when that is smaller), the other rounded and at least 1.
Fit FitInto(uint32_t width, uint32_t height, uint32_t box) {
  const uint32_t longer = std::max(width, height);
  const uint32_t side = std::min(box, longer);
  const auto scaled = [&](uint32_t length) {
    return std::max<uint32_t>(1, static_cast<uint32_t>((uint64_t{length} * side + longer / 2) / longer));
  };
  return Fit{scaled(width), scaled(height)};
}

// The decoded picture scaled to `fit`, three bytes a pixel (red, green, blue), top row first.
std::optional<std::vector<uint8_t>> ScaledRgb(const FrameDecoder& decoder, Fit fit) {
  const std::vector<uint8_t> rgb = RgbOfPicture(decoder);
  std::optional<BmpImage> picture = BmpImage::Create(decoder.Width(), decoder.Height());
  if (!picture) return std::nullopt;
  // Stored row 0 is the top: the scaler hands its rows back in reverse order, so its result is
  // an ordinary bottom-up picture.
  for (uint32_t y = 0; y < decoder.Height(); ++y) {
    const std::span<uint8_t> row = picture->Row(y);
    for (uint32_t x = 0; x < decoder.Width(); ++x) {
      const std::size_t from = (std::size_t{y} * decoder.Width() + x) * 3;
      row[x * 3] = rgb[from + 2];
      row[x * 3 + 1] = rgb[from + 1];
      row[x * 3 + 2] = rgb[from];
    }
  }
  const std::optional<BmpImage> scaled = ScalePicture(*picture, fit.width, fit.height);
  if (!scaled) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(std::size_t{fit.width} * fit.height * 3);
  for (uint32_t y = 0; y < fit.height; ++y) {
    const std::span<const uint8_t> row = scaled->Row(fit.height - 1 - y);
    for (uint32_t x = 0; x < fit.width; ++x) {
      out.push_back(row[x * 3 + 2]);
      out.push_back(row[x * 3 + 1]);
      out.push_back(row[x * 3]);
    }
  }
  return out;
}

}  // namespace

int RunThumbnail(const std::vector<std::string>& args) {
  const auto parsed = ParseArguments("thumbnail", args);
  if (!parsed) return 2;
  const auto& words = parsed->positional;
  if (words.size() != 2 && words.size() != 3) return UsageError("thumbnail", "expected a movie, an output file and a size");
  uint32_t box = kDefaultSize;
  if (words.size() == 3) {
    const std::string& text = words[2];
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), box);
    if (ec != std::errc() || end != text.data() + text.size() || box == 0 || box > kLargestSize) {
      return UsageError("thumbnail", "size '" + text + "' is not a number from 1 to " + std::to_string(kLargestSize));
    }
  }
  const std::string& moviePath = words[0];
  const auto movie = LoadMovieOrReport(moviePath);
  if (!movie) return 1;
  // A damaged container is refused even when the chosen frame is whole: a file manager should
  // not show a picture for a file that no player would play through.
  if (const std::vector<std::string> problems = VerifyContainer(*movie); !problems.empty()) {
    return Fail(moviePath, problems.front());
  }
  if (movie->index.empty()) return Fail(moviePath, "the movie has no frames");
  const std::size_t k = movie->index.size() / 10;
  FrameDecoder decoder;
  if (!DecodeMovieFrame(*movie, k, decoder)) return Fail(moviePath, "frame " + std::to_string(k) + " is damaged");
  const Fit fit = FitInto(decoder.Width(), decoder.Height(), box);
  const std::optional<std::vector<uint8_t>> rgb = ScaledRgb(decoder, fit);
  if (!rgb) return Fail(moviePath, "frame " + std::to_string(k) + " cannot be scaled");
  Result<StagedOutput> staged = StagedOutput::Create(words[1]);
  if (!staged) return Fail(staged.error());
  if (Status written = WritePngFile(staged->TemporaryPath(), fit.width, fit.height, *rgb); !written) {
    return Fail(MakeError(ErrorKind::kCannotWrite, words[1], "write failed"));
  }
  if (Status committed = staged->Commit(); !committed) return Fail(committed.error());
  return 0;
}

}  // namespace reel
