#include "player/shell/player_configuration.h"

#include "common/format_text.h"
#include "player/shell/settings_document.h"

namespace reel {

PlayerConfiguration LoadPlayerConfiguration(const std::string& folder) {
  const std::string file = folder + kSettingsFileName;
  PlayerConfiguration configuration;
  configuration.volume = ReadSettingInt("MUSIC_CONFIG", "MUSIC_VOL", kDefaultVolume, file);
  ReadSettingText("VIDEO_CONFIG", "FILE_NAME", kDefaultMovieName, configuration.currentName,
                  kSettingTextMaximum, file);
  configuration.wholeFile = ReadSettingInt("MUSIC_CONFIG", "MEM_STREAM", 0, file) != 0;
  configuration.movies = BuildMovieList(folder);
  if (configuration.movies.Empty()) return configuration;
  configuration.movieIndex = FindMovie(configuration.movies, configuration.currentName).value_or(0);
  configuration.currentName = configuration.movies.At(configuration.movieIndex);
  return configuration;
}

void ChooseMovie(PlayerConfiguration& configuration, const std::string& name) {
  const std::optional<std::size_t> index = FindMovie(configuration.movies, name);
  configuration.currentName = index ? configuration.movies.At(*index) : name;
  if (index) configuration.movieIndex = *index;
}

void StoreVolume(const std::string& folder, int32_t volume) {
  WriteSetting("MUSIC_CONFIG", "MUSIC_VOL", FormatText("%d", volume), folder + kSettingsFileName);
}

}  // namespace reel
