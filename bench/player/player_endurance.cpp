// player_endurance: plays short movies in a loop headless, switching every few seconds, and tells
// the resident memory at the start and the end.
//
// Usage: player_endurance [SECONDS]   (default 600; the movies are made in a fresh folder under
// the system's temporary folder, removed at the end)
#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "bench/player/endurance_run.h"

int main(int argc, char** argv) {
  const long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 600;
  if (seconds <= 0) {
    std::cerr << "usage: player_endurance [SECONDS]\n";
    return 2;
  }
  ::setenv("SDL_AUDIODRIVER", "dummy", 0);
  std::string folder = (std::filesystem::temp_directory_path() / "player-endurance-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    std::cerr << "player_endurance: cannot make a folder under " << std::filesystem::temp_directory_path() << "\n";
    return 1;
  }
  reel::EnduranceOptions options;
  options.folder = folder + "/";
  options.duration = std::chrono::seconds(seconds);
  options.pluginPath = REEL_LODESTAR_PATH;
  options.progress = [](const std::string& line) { std::cout << line << std::endl; };
  const reel::Result<reel::EnduranceReport> report = reel::RunEndurance(options);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  if (!report) {
    std::cerr << "player_endurance: " << report.error().message << "\n";
    return 1;
  }
  std::cout << "resident at the start " << report->startRssBytes / 1024 << " KiB, at the end "
            << report->endRssBytes / 1024 << " KiB, peak " << report->peakRssBytes / 1024 << " KiB\n"
            << report->switches << " switches, " << report->moviesOpened << " movie starts, "
            << report->framesShown << " frames shown\n";
  return 0;
}
