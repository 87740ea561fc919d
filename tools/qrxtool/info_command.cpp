// qrxtool info: the movie header and one line per index entry, as text or JSON.
#include <iostream>

#include "common/json_output.h"
#include "tools/qrxtool/commands.h"
#include "tools/qrxtool/movie_file.h"

namespace reel {
namespace {

std::string MagicText(const QrxHeader& h) { return std::string(h.magic.begin(), h.magic.end()); }

void PrintText(const std::string& path, const MovieFile& movie) {
  const QrxHeader& h = movie.header;
  std::cout << path << "\n"
            << "magic:          " << MagicText(h) << "\n"
            << "frames:         " << h.frameCount << "\n"
            << "frame rate:     " << h.frameRate << " fps\n"
            << "picture size:   " << h.width << " x " << h.height << "\n"
            << "bits per pixel: " << h.bitsPerPixel << "\n"
            << "file size:      " << h.fileSize << " (file has " << movie.bytes.size() << " bytes)\n"
            << "data offset:    " << h.dataOffset << "\n";
  for (const QrxIndexEntry& e : movie.index) {
    std::cout << "frame " << e.frameNumber << ": offset " << e.frameOffset << ", coded size " << e.codedSize
              << ", raw size " << e.rawSize << "\n";
  }
}

void PrintJson(const std::string& path, const MovieFile& movie) {
  const QrxHeader& h = movie.header;
  JsonValue out{{"file", path},          {"magic", MagicText(h)},     {"frameCount", h.frameCount},
                {"frameRate", h.frameRate}, {"width", h.width},         {"height", h.height},
                {"bitsPerPixel", h.bitsPerPixel}, {"fileSize", h.fileSize}, {"fileLength", movie.bytes.size()},
                {"dataOffset", h.dataOffset}, {"index", JsonValue::array()}};
  for (const QrxIndexEntry& e : movie.index) {
    out["index"].push_back({{"frameNumber", e.frameNumber}, {"codedSize", e.codedSize}, {"rawSize", e.rawSize},
                            {"frameOffset", e.frameOffset}});
  }
  std::cout << JsonLine(out);
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
  const auto parsed = ParseArguments("info", args);
  if (!parsed) return 2;
  if (parsed->positional.size() != 1) return UsageError("info", "expected one movie file");
  const std::string& path = parsed->positional[0];
  const auto movie = LoadMovieOrReport(path);
  if (!movie) return 1;
  if (parsed->switches.contains("--json")) {
    PrintJson(path, *movie);
  } else {
    PrintText(path, *movie);
  }
  return 0;
}

}  // namespace reel
