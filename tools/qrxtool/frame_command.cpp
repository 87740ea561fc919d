// qrxtool frame / decode-frame: decode one frame with the player's decoder and write it out.
#include <charconv>

#include "player/video/frame_decoder.h"
#include "tools/qrxtool/commands.h"
#include "tools/qrxtool/movie_file.h"
#include "tools/qrxtool/picture_output.h"

namespace reel {
namespace {

int WritePicture(const FrameDecoder& decoder, const std::string& outPath, bool raw565) {
  const std::vector<uint8_t> bytes = raw565 ? Raw565OfPicture(decoder) : PpmOfPicture(decoder);
  if (Status written = WriteBytesToFile(outPath, bytes); !written) return Fail(written.error());
  return 0;
}

}  // namespace

int RunFrame(const std::vector<std::string>& args) {
  const auto parsed = ParseArguments("frame", args);
  if (!parsed) return 2;
  if (parsed->positional.size() != 3) return UsageError("frame", "expected a movie, a frame number and an output file");
  const std::string& path = parsed->positional[0];
  const std::string& number = parsed->positional[1];
  std::size_t k = 0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), k);
  if (ec != std::errc() || end != number.data() + number.size()) {
    return UsageError("frame", "frame number '" + number + "' is not a number");
  }
  const auto movie = LoadMovieOrReport(path);
  if (!movie) return 1;
  if (k >= movie->index.size()) {
    return Fail(path, "frame " + number + " does not exist (the movie has " + std::to_string(movie->index.size()) +
                          " frames)");
  }
  if (!movie->FrameBytes(k)) return Fail(path, "frame " + number + " lies outside the file");
  FrameDecoder decoder;
  if (const Status decoded = DecodeMovieFrame(*movie, k, decoder); !decoded) {
    return Fail(path, "frame " + number + " cannot be decoded: " + decoded.error().message);
  }
  return WritePicture(decoder, parsed->positional[2], parsed->switches.contains("--raw565"));
}

int RunDecodeFrame(const std::vector<std::string>& args) {
  const auto parsed = ParseArguments("decode-frame", args);
  if (!parsed) return 2;
  if (parsed->positional.size() != 2) return UsageError("decode-frame", "expected a frame file and an output file");
  const std::string& path = parsed->positional[0];
  const auto bytes = ReadWholeFile(path);
  if (!bytes) return Fail(bytes.error());
  FrameDecoder decoder;
  if (const Status decoded = decoder.DecodeFrame(*bytes); !decoded) {
    return Fail(path, "not a frame that can be decoded: " + decoded.error().message);
  }
  return WritePicture(decoder, parsed->positional[1], parsed->switches.contains("--raw565"));
}

}  // namespace reel
