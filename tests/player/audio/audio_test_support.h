// Helpers for the player sound tests: a scratch folder, MP3 files made with the ffmpeg tool, and a
// direct libmpg123 decode to compare the plug-in with.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/scratch_folder.h"

namespace reel::test {

std::filesystem::path SharedMedia(const std::string& name);
bool HaveSharedMedia();
bool HaveFfmpeg();

// Encodes a tone with ffmpeg's LAME encoder; extraArguments go before the output name. Nothing when
// ffmpeg fails.
std::optional<std::filesystem::path> MakeMp3(const std::filesystem::path& folder,
                                             const std::string& name, uint32_t rate,
                                             uint16_t channels, double seconds,
                                             const std::string& extraArguments = "");

struct DirectDecode {
  uint16_t channels = 0;
  uint32_t rate = 0;
  std::vector<int16_t> samples;
};
// Every frame decoded by libmpg123 on its own from the file, without gapless trimming, with an
// encoder's info frame decoded as a plain frame.
std::optional<DirectDecode> DecodeWithMpg123(const std::filesystem::path& path);

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Where Lodestar.ovl was built.
std::string PluginPath();

}  // namespace reel::test
