#include "tools/qrxtool/picture_output.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "player/video/frame_decoder.h"

namespace reel {

std::vector<uint8_t> RgbOfPicture(const FrameDecoder& decoder) {
  std::vector<uint8_t> out;
  out.reserve(std::size_t{decoder.Width()} * decoder.Height() * 3);
  const std::size_t stride = decoder.RowBytes() / 2;
  const auto pixels = decoder.Pixels();
  for (uint32_t y = 0; y < decoder.Height(); ++y) {
    for (uint32_t x = 0; x < decoder.Width(); ++x) {
      const uint16_t p = pixels[y * stride + x];
      const uint32_t r5 = p >> 11, g6 = (p >> 5) & 0x3F, b5 = p & 0x1F;
      out.push_back(static_cast<uint8_t>((r5 << 3) | (r5 >> 2)));
      out.push_back(static_cast<uint8_t>((g6 << 2) | (g6 >> 4)));
      out.push_back(static_cast<uint8_t>((b5 << 3) | (b5 >> 2)));
    }
  }
  return out;
}

std::vector<uint8_t> PpmOfPicture(const FrameDecoder& decoder) {
  const std::string header =
      "P6\n" + std::to_string(decoder.Width()) + " " + std::to_string(decoder.Height()) + "\n255\n";
  std::vector<uint8_t> out(header.begin(), header.end());
  const std::vector<uint8_t> rgb = RgbOfPicture(decoder);
  out.insert(out.end(), rgb.begin(), rgb.end());
  return out;
}

std::vector<uint8_t> Raw565OfPicture(const FrameDecoder& decoder) {
  std::vector<uint8_t> out;
  const std::size_t count = std::size_t{decoder.PaddedWidth()} * decoder.PaddedHeight();
  out.reserve(count * 2);
  for (uint16_t p : decoder.Pixels().first(count)) {
    out.push_back(static_cast<uint8_t>(p));
    out.push_back(static_cast<uint8_t>(p >> 8));
  }
  return out;
}

Status WriteBytesToFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return MakeError(ErrorKind::kCannotWrite, path, std::string("cannot create the file: ") + std::strerror(errno));
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) return MakeError(ErrorKind::kCannotWrite, path, "write failed");
  return {};
}

}  // namespace reel
