#include "tests/support/qrx_movie_checks.h"

#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"

namespace reel::test {

QrxHeader ReadHeader(const std::filesystem::path& moviePath) {
  const std::vector<uint8_t> bytes = ReadAllBytes(moviePath);
  if (bytes.size() < kQrxHeaderSize) return {};
  return ReadQrxHeader(std::span<const uint8_t>(bytes).first<kQrxHeaderSize>());
}

bool Verified(const std::filesystem::path& moviePath) {
  return RunCommand(ShellQuoted(std::string_view(REEL_QRXTOOL)) + " verify " + ShellQuoted(moviePath)).status == 0;
}

std::optional<RgbPicture> DecodeMovieFrame(const std::filesystem::path& moviePath, uint32_t frame,
                                           const std::filesystem::path& scratch) {
  const CommandResult decoded = RunCommand(ShellQuoted(std::string_view(REEL_QRXTOOL)) + " frame " +
                                           ShellQuoted(moviePath) + " " + std::to_string(frame) + " " +
                                           ShellQuoted(scratch));
  if (decoded.status != 0) return std::nullopt;
  // "P6", width, height, 255, one white-space byte, then the rows.
  std::ifstream in(scratch, std::ios::binary);
  std::string magic;
  RgbPicture picture;
  int maximum = 0;
  in >> magic >> picture.width >> picture.height >> maximum;
  in.get();
  if (!in || magic != "P6" || picture.width <= 0 || picture.height <= 0) return std::nullopt;
  picture.rgb.resize(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3);
  in.read(reinterpret_cast<char*>(picture.rgb.data()), static_cast<std::streamsize>(picture.rgb.size()));
  if (in.gcount() != static_cast<std::streamsize>(picture.rgb.size())) return std::nullopt;
  return picture;
}

}  // namespace reel::test
