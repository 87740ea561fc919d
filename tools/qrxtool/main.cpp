// qrxtool: inspects, checks and exports QRX movies and their frames.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/project_version.h"
#include "tools/qrxtool/commands.h"

namespace reel {

namespace {

const OptionSpec kRaw565{"", '\0', "raw565", "", "the padded picture's 5-6-5 words instead of a PPM\n", {}};
const OptionSpec kQuality{"", '\0', "quality", "Q", "the JPEG quality, 1 to 100\n", {}};
const OptionSpec kProgramOptions[] = {
    {"", 'h', "help", "", "this text\n", {}},
    {"", '\0', "version", "", "the program's version\n", {}},
};

}  // namespace

std::span<const Command> Commands() {
  static const Command kCommands[] = {
      {"info", "MOVIE.qrx [--json]", "print the header and one line per index entry", RunInfo,
       {{"", '\0', "json", "", "the same as one JSON object (UTF-8; bytes of a name that are not UTF-8 become U+FFFD)\n", {}}}},
      {"verify", "MOVIE.qrx", "check every container invariant, frame header and frame decode", RunVerify, {}},
      {"frame", "MOVIE.qrx K OUT.ppm [--raw565]", "decode frame K (from 0) to a PPM picture", RunFrame, {kRaw565}},
      {"decode-frame", "FRAME.jbp1 OUT.ppm [--raw565]", "decode a single coded frame file to a PPM picture",
       RunDecodeFrame, {kRaw565}},
      {"code-jpeg", "IN.jpg OUT.jbp1 [--quality Q]",
       "code a baseline 4:2:0 JPEG's coefficients as one frame file (Q, default 50, is only stored)", RunCodeJpeg,
       {kQuality}},
      {"code-picture", "IN.ppm OUT.jbp1 --quality Q [--size WxH]",
       "scale a P6 picture (default: its own size) and code it as a conversion job codes a frame", RunCodePicture,
       {kQuality, {"", '\0', "size", "WxH", "the coded picture's size\n", {"320x240", "640x480"}}}},
      {"export", "MOVIE.qrx OUT.mkv|OUT.avi|OUT.mp4",
       "every frame as a baseline JPEG of its own coefficients, at the movie's rate, with its companion sound",
       RunExport, {}},
      {"export", "MOVIE.qrx --frames DIR [--from K] [--count N]",
       "frames K ... K + N - 1 (default: all) as DIR/frame-NNNNN.jpg", RunExport,
       {{"", '\0', "frames", "DIR", "the folder the JPEG files go to\n", {}},
        {"", '\0', "from", "K", "the first frame, from 0\n", {}},
        {"", '\0', "count", "N", "how many frames\n", {}}}},
      {"thumbnail", "MOVIE.qrx OUT.png [SIZE]",
       "the frame a tenth of the way in as a PNG that fits SIZE x SIZE (default 128)", RunThumbnail, {}},
  };
  return kCommands;
}

namespace {

void PrintHelp(std::ostream& out) {
  out << "qrxtool: inspect, check and export QRX movies and their frames.\n\nUsage:\n";
  for (const Command& c : Commands()) {
    out << "  qrxtool " << c.name << " " << c.usage << "\n      " << c.summary << "\n";
    // Indented under the command: "        --json" with its help below it.
    std::istringstream options(OptionHelpText(c.options, 10));
    for (std::string line; std::getline(options, line);) out << "  " << line << "\n";
  }
  out << "\nOptions:\n" << OptionHelpText(kProgramOptions, 21);
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
  if (words[0] == "--version") {
    std::cout << "qrxtool " << reel::kProjectVersion << "\n";
    return 0;
  }
  for (const reel::Command& c : reel::Commands()) {
    if (c.name == words[0]) return c.run(std::vector<std::string>(words.begin() + 1, words.end()));
  }
  std::cerr << "qrxtool: unknown command '" << words[0] << "' (try qrxtool --help)\n";
  return 2;
}
