// The player's start-up reading of "video.cfg" and its movie list, and the volume written back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "player/shell/movie_list.h"

namespace reel {

inline constexpr char kSettingsFileName[] = "video.cfg";
inline constexpr char kDefaultMovieName[] = "tidalop.mov";
inline constexpr int32_t kDefaultVolume = 100;

struct PlayerConfiguration {
  int32_t volume = kDefaultVolume;  // MUSIC_VOL, not range-checked here
  bool wholeFile = false;           // MEM_STREAM not 0
  MovieList movies;
  std::size_t movieIndex = 0;
  std::string currentName;
};

// Reads MUSIC_VOL, FILE_NAME and MEM_STREAM from folder + "video.cfg", lists the movies of the
// folder and chooses the first one: the entry named FILE_NAME, or the first entry. With no movies
// the current name stays as read. `folder` ends with "/".
PlayerConfiguration LoadPlayerConfiguration(const std::string& folder);

// Makes `name` the movie to play first: its entry in the list, or the name itself when the list
// does not hold it.
void ChooseMovie(PlayerConfiguration& configuration, const std::string& name);

// Writes the volume as MUSIC_VOL into the cached settings of folder + "video.cfg"; it reaches the
// file with SaveSettings.
void StoreVolume(const std::string& folder, int32_t volume);

}  // namespace reel
