// The player's endurance run: the shell, its movies and the sound output, as reelview wires them,
// play a few short movies in a loop for a given time, the next movie chosen every few seconds as
// the right arrow key would, while the resident memory is watched.
//
// Everything but the window is the player's own: the picture goes to a display without a window,
// and the keys come from a schedule. The sound plays through SDL's dummy driver unless
// SDL_AUDIODRIVER says otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "common/result.h"

namespace reel {

struct EnduranceOptions {
  std::string folder;  // an empty folder to make the movies in; it is left with them
  std::chrono::seconds duration{600};
  std::chrono::milliseconds switchEvery{3000};
  uint32_t movieCount = 3;
  uint32_t movieSeconds = 2;       // each movie's length: it ends and starts again between switches
  uint32_t width = 320;            // the movies' picture size
  uint32_t height = 240;
  std::string pluginPath;          // the MP3 decoder plug-in; the normal search when empty
  bool withSound = true;           // an MP3 beside each movie but the last (needs the ffmpeg tool)
  std::function<void(const std::string&)> progress;  // told about each minute; may be empty
};

struct EnduranceReport {
  uint64_t startRssBytes = 0;  // resident size once the first movies have played
  uint64_t endRssBytes = 0;    // at the end of the run, before shutting down
  uint64_t peakRssBytes = 0;   // the largest sampled in between
  uint32_t switches = 0;
  uint64_t framesShown = 0;
  uint32_t moviesOpened = 0;
};

// An error when the movies cannot be made.
Result<EnduranceReport> RunEndurance(const EnduranceOptions& options);

// The resident size of this process, from /proc/self/statm; 0 when it cannot be read.
uint64_t ResidentBytes();

}  // namespace reel
