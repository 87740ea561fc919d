// Helpers for the player sound tests: MP3 files made with the ffmpeg tool, and where the decoder
// plug-in was built.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace reel::test {

// Encodes a tone with ffmpeg's LAME encoder; extraArguments go before the output name. Nothing when
// ffmpeg fails.
std::optional<std::filesystem::path> MakeMp3(const std::filesystem::path& folder,
                                             const std::string& name, uint32_t rate,
                                             uint16_t channels, double seconds,
                                             const std::string& extraArguments = "");

// Where Lodestar.ovl was built.
std::string PluginPath();

}  // namespace reel::test
