#include "tests/player/audio/audio_test_support.h"

#include "tests/support/external_tools.h"

namespace reel::test {

std::optional<std::filesystem::path> MakeMp3(const std::filesystem::path& folder,
                                             const std::string& name, uint32_t rate,
                                             uint16_t channels, double seconds,
                                             const std::string& extraArguments) {
  const std::filesystem::path out = folder / name;
  // Two tones, one per side, so a swapped or averaged channel shows.
  const std::string arguments =
      "-f lavfi -i \"aevalsrc=0.6*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=" + std::to_string(rate) +
      ":d=" + std::to_string(seconds) + "\" -ac " + std::to_string(channels) + " -c:a libmp3lame -b:a 64k " +
      extraArguments + " " + ShellQuoted(out);
  if (!RunFfmpegTool(arguments) || !std::filesystem::exists(out)) return std::nullopt;
  return out;
}

std::string PluginPath() { return REEL_LODESTAR_PATH; }

}  // namespace reel::test
