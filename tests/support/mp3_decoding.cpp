#include "tests/support/mp3_decoding.h"

#include <mpg123.h>

#include <memory>

#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel::test {
namespace {

struct HandleDeleter {
  void operator()(mpg123_handle* handle) const {
    mpg123_close(handle);
    mpg123_delete(handle);
  }
};
using Mpg123Handle = std::unique_ptr<mpg123_handle, HandleDeleter>;

Mpg123Handle NewHandle(Mp3Decoding decoding) {
  // Needed by libmpg123 before 1.27, harmless after.
  static const int initialised = mpg123_init();
  (void)initialised;
  Mpg123Handle handle(mpg123_new(nullptr, nullptr));
  if (!handle) return handle;
  const long flags = decoding == Mp3Decoding::kGapless ? MPG123_QUIET | MPG123_GAPLESS
                                                       : MPG123_QUIET | MPG123_IGNORE_INFOFRAME;
  mpg123_param(handle.get(), MPG123_FLAGS, flags, 0.0);
  // 16-bit samples at whatever rate and channel count the stream has.
  mpg123_format_none(handle.get());
  const long* rates = nullptr;
  std::size_t rateCount = 0;
  mpg123_rates(&rates, &rateCount);
  for (std::size_t i = 0; i < rateCount; ++i) {
    mpg123_format(handle.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  }
  return handle;
}

}  // namespace

std::optional<DecodedMp3> DecodeMp3File(const std::filesystem::path& path, Mp3Decoding decoding) {
  Mpg123Handle handle = NewHandle(decoding);
  if (!handle || mpg123_open(handle.get(), path.c_str()) != MPG123_OK) return std::nullopt;
  long rate = 0;
  int channels = 0;
  int encoding = 0;
  if (mpg123_getformat(handle.get(), &rate, &channels, &encoding) != MPG123_OK || channels <= 0) return std::nullopt;
  DecodedMp3 decoded;
  decoded.rate = static_cast<uint32_t>(rate);
  decoded.channels = static_cast<uint16_t>(channels);
  std::vector<unsigned char> buffer(65536);
  int status = MPG123_OK;
  do {
    std::size_t done = 0;
    status = mpg123_read(handle.get(), buffer.data(), buffer.size(), &done);
    for (std::size_t i = 0; i + 1 < done; i += 2) {
      decoded.samples.push_back(static_cast<int16_t>(buffer[i] | (buffer[i + 1] << 8)));
    }
  } while (status == MPG123_OK || status == MPG123_NEW_FORMAT);
  decoded.complete = status == MPG123_DONE;
  return decoded;
}

std::optional<DecodedMp3> DecodeMp3Bytes(std::span<const uint8_t> mp3, Mp3Decoding decoding) {
  // From a file rather than libmpg123's feeder, so the gapless trim sees the whole stream.
  const ScratchFolder folder("mp3-decode");
  const std::filesystem::path path = folder.Path() / "stream.mp3";
  if (!WriteAllBytes(path, mp3)) return std::nullopt;
  return DecodeMp3File(path, decoding);
}

}  // namespace reel::test
