#include "tests/player/audio/audio_test_support.h"

#include <mpg123.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace reel::test {

std::filesystem::path SharedMedia(const std::string& name) {
  return std::filesystem::path(REEL_SHARED_MEDIA_DIR) / name;
}

bool HaveSharedMedia() { return std::filesystem::is_directory(REEL_SHARED_MEDIA_DIR); }

bool HaveFfmpeg() {
  return std::system("ffmpeg -hide_banner -loglevel error -version > /dev/null 2>&1") == 0;
}

std::optional<std::filesystem::path> MakeMp3(const std::filesystem::path& folder,
                                             const std::string& name, uint32_t rate,
                                             uint16_t channels, double seconds,
                                             const std::string& extraArguments) {
  const std::filesystem::path out = folder / name;
  // Two tones, one per side, so a swapped or averaged channel shows.
  const std::string command =
      "ffmpeg -hide_banner -loglevel error -y -f lavfi -i \"aevalsrc=0.6*sin(2*PI*440*t)|0.4*sin(2*PI*"
      "660*t):s=" + std::to_string(rate) + ":d=" + std::to_string(seconds) + "\" -ac " +
      std::to_string(channels) + " -c:a libmp3lame -b:a 64k " + extraArguments + " \"" +
      out.string() + "\"";
  if (std::system(command.c_str()) != 0 || !std::filesystem::exists(out)) return std::nullopt;
  return out;
}

std::optional<DirectDecode> DecodeWithMpg123(const std::filesystem::path& path) {
  mpg123_init();
  mpg123_handle* handle = mpg123_new(nullptr, nullptr);
  if (handle == nullptr) return std::nullopt;
  mpg123_param(handle, MPG123_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME, 0.0);
  mpg123_format_none(handle);
  const long* rates = nullptr;
  std::size_t rateCount = 0;
  mpg123_rates(&rates, &rateCount);
  for (std::size_t i = 0; i < rateCount; ++i) {
    mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  }
  DirectDecode result;
  if (mpg123_open(handle, path.c_str()) == MPG123_OK) {
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    mpg123_getformat(handle, &rate, &channels, &encoding);
    result.rate = static_cast<uint32_t>(rate);
    result.channels = static_cast<uint16_t>(channels);
    std::vector<int16_t> chunk(8192);
    for (;;) {
      std::size_t bytes = 0;
      const int status = mpg123_read(handle, chunk.data(), chunk.size() * 2, &bytes);
      result.samples.insert(result.samples.end(), chunk.begin(),
                            chunk.begin() + static_cast<std::ptrdiff_t>(bytes / 2));
      if (status != MPG123_OK && status != MPG123_NEW_FORMAT) break;
    }
    mpg123_close(handle);
  }
  mpg123_delete(handle);
  if (result.channels == 0) return std::nullopt;
  return result;
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string PluginPath() { return REEL_LODESTAR_PATH; }

}  // namespace reel::test
