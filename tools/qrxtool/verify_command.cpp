// qrxtool verify: one line per problem; exit status 0 when the movie is sound, 1 when not.
#include <iostream>

#include "tools/qrxtool/commands.h"
#include "tools/qrxtool/movie_file.h"

namespace reel {

int RunVerify(const std::vector<std::string>& args) {
  const auto parsed = ParseArguments("verify", args);
  if (!parsed) return 2;
  if (parsed->positional.size() != 1) return UsageError("verify", "expected one movie file");
  const std::string& path = parsed->positional[0];
  const auto movie = LoadMovieOrReport(path);
  if (!movie) return 1;
  const std::vector<std::string> problems = VerifyMovie(*movie);
  for (const std::string& line : problems) std::cout << path << ": " << line << "\n";
  if (!problems.empty()) return 1;
  std::cout << path << ": sound: " << movie->header.frameCount << " frames, " << movie->header.width << " x "
            << movie->header.height << ", " << movie->header.frameRate << " fps\n";
  return 0;
}

}  // namespace reel
