// qrxtool: inspects, checks and exports QRX movies and their frames.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tools/qrxtool/commands.h"

namespace reel {

std::span<const Command> Commands() {
  static const Command kCommands[] = {
      {"info", "MOVIE.qrx [--json]", "print the header and one line per index entry", RunInfo},
      {"verify", "MOVIE.qrx", "check every container invariant, frame header and frame decode", RunVerify},
      {"frame", "MOVIE.qrx K OUT.ppm [--raw565]", "decode frame K (from 0) to a PPM picture", RunFrame},
      {"decode-frame", "FRAME.jbp1 OUT.ppm [--raw565]", "decode a single coded frame file to a PPM picture",
       RunDecodeFrame},
      {"code-jpeg", "IN.jpg OUT.jbp1 [--quality Q]",
       "code a baseline 4:2:0 JPEG's coefficients as one frame file (Q, default 50, is only stored)", RunCodeJpeg},
      {"code-picture", "IN.ppm OUT.jbp1 --quality Q [--size WxH]",
       "scale a P6 picture (default: its own size) and code it as a conversion job codes a frame", RunCodePicture},
      {"export", "MOVIE.qrx OUT.mkv|OUT.avi|OUT.mp4",
       "every frame as a baseline JPEG of its own coefficients, at the movie's rate, with its companion sound",
       RunExport},
      {"export", "MOVIE.qrx --frames DIR [--from K] [--count N]",
       "frames K ... K + N - 1 (default: all) as DIR/frame-NNNNN.jpg", RunExport},
      {"thumbnail", "MOVIE.qrx OUT.png [SIZE]",
       "the frame a tenth of the way in as a PNG that fits SIZE x SIZE (default 128)", RunThumbnail},
  };
  return kCommands;
}

namespace {

void PrintHelp(std::ostream& out) {
  out << "qrxtool: inspect, check and export QRX movies and their frames.\n\nUsage:\n";
  for (const Command& c : Commands()) out << "  qrxtool " << c.name << " " << c.usage << "\n      " << c.summary << "\n";
  out << "\nWith --raw565 the padded picture's 16-bit little-endian 5-6-5 words are written instead of a PPM.\n"
         "Exit status: 0 success, 1 bad input or an unsound movie, 2 a usage error.\n";
}

}  // namespace
}  // namespace reel

int main(int argc, char** argv) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    reel::PrintHelp(words.empty() ? std::cerr : std::cout);
    return words.empty() ? 2 : 0;
  }
  for (const reel::Command& c : reel::Commands()) {
    if (c.name == words[0]) return c.run(std::vector<std::string>(words.begin() + 1, words.end()));
  }
  std::cerr << "qrxtool: unknown command '" << words[0] << "' (try qrxtool --help)\n";
  return 2;
}
