// Arbitrary bytes as the player's "video.cfg": read at start-up from a folder holding three
// movies, the volume written back and the document saved, as the player does at shut-down. The
// chosen movie must be one of the list, the name read must fit its limit, the volume written must
// read back, and a document written out must read back as the same lines.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "player/shell/player_configuration.h"
#include "player/shell/settings_document.h"
#include "tests/fuzz/temp_folder.h"

namespace {

struct PlayerFolder {
  reel::fuzz::TempFolder folder{"fuzz-settings-file"};
  std::string path = folder.Path().string() + "/";
  PlayerFolder() {
    for (const char* movie : {"A.qrx", "b.qrx", "C D.qrx"}) folder.WriteFile(movie, {});
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const PlayerFolder player;
  const std::string file = player.path + reel::kSettingsFileName;
  if (!player.folder.WriteFile(reel::kSettingsFileName, std::span(data, size))) return 0;

  const reel::PlayerConfiguration configuration = reel::LoadPlayerConfiguration(player.path);
  if (configuration.movies.Size() != 3) std::abort();
  if (configuration.movieIndex >= configuration.movies.Size()) std::abort();
  if (configuration.currentName != configuration.movies.At(configuration.movieIndex)) std::abort();

  const int32_t volume = static_cast<int32_t>(static_cast<uint32_t>(configuration.volume) % 101);
  reel::StoreVolume(player.path, volume);
  if (reel::ReadSettingInt("MUSIC_CONFIG", "MUSIC_VOL", -1, file) != volume) std::abort();
  std::string name;
  reel::ReadSettingText("VIDEO_CONFIG", "FILE_NAME", reel::kDefaultMovieName, name, reel::kSettingTextMaximum, file);
  if (name.size() > std::max(reel::kSettingTextMaximum, std::string_view(reel::kDefaultMovieName).size())) std::abort();
  (void)reel::SaveSettings();

  // The same on the document itself: what is written out reads back line for line.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  reel::SettingsDocument document = reel::SettingsDocument::FromText(file, text);
  document.Write("VIDEO_CONFIG", "FILE_NAME", "\"b.qrx\"");
  if (reel::SettingsDocument::FromText(file, document.Text()).Lines() != document.Lines()) std::abort();
  const auto written = document.FindValue("video_config", "file_name");
  if (!written || reel::UnquoteSettingText(*written) != "b.qrx") std::abort();
  return 0;
}
