#include "tests/support/qrx_movie_checks.h"

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

}  // namespace reel::test
