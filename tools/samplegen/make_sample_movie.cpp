// qrxsample: writes a short QRX movie of generated pictures, for the demo and for trying the
// tools without a source video.
//   qrxsample OUT.qrx [--frames N] [--rate FPS] [--size 320x240|640x480] [--quality Q]
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "converter/coder/frame_coder.h"
#include "converter/coder/qrx_writer.h"
#include "tools/samplegen/sample_coefficients.h"

namespace {

struct Settings {
  std::string output;
  uint32_t frames = 30;
  uint32_t rate = 15;
  reel::PictureSizeChoice sizeChoice = reel::PictureSizeChoice::k320x240;
  int32_t quality = 50;
};

template <typename T>
bool ParseNumber(const std::string& text, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseSettings(const std::vector<std::string>& words, Settings& s) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    const bool hasValue = i + 1 < words.size();
    if (w == "--frames" && hasValue) {
      if (!ParseNumber(words[++i], s.frames)) return false;
    } else if (w == "--rate" && hasValue) {
      if (!ParseNumber(words[++i], s.rate) || s.rate == 0) return false;
    } else if (w == "--quality" && hasValue) {
      if (!ParseNumber(words[++i], s.quality) || s.quality < 1 || s.quality > 100) return false;
    } else if (w == "--size" && hasValue) {
      const std::string& size = words[++i];
      if (size != "320x240" && size != "640x480") return false;
      s.sizeChoice = size == "640x480" ? reel::PictureSizeChoice::k640x480 : reel::PictureSizeChoice::k320x240;
    } else if (s.output.empty() && w.rfind("--", 0) != 0) {
      s.output = w;
    } else {
      return false;
    }
  }
  return !s.output.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  if (!ParseSettings(std::vector<std::string>(argv + 1, argv + argc), s)) {
    std::cerr << "usage: qrxsample OUT.qrx [--frames N] [--rate FPS] [--size 320x240|640x480] [--quality 1-100]\n";
    return 2;
  }
  reel::QrxOutput movie = reel::CreateQrxFile(s.output);
  static_cast<void>(reel::BeginQrx(movie, s.frames, s.rate, s.sizeChoice));
  for (uint32_t k = 0; k < s.frames && movie.status; ++k) {
    const auto set = reel::MakeSampleCoefficients(reel::QrxWidth(movie), reel::QrxHeight(movie), s.quality, k);
    const auto frame = reel::CodeCoefficients(set, s.quality);
    if (!frame) {
      std::cerr << "qrxsample: " << s.output << ": frame " << k << " cannot be coded\n";
      return 1;
    }
    static_cast<void>(reel::AppendQrxFrame(movie, *frame));
    std::fprintf(stderr, "\rcoding frame %u / %u", k + 1, s.frames);
  }
  std::fprintf(stderr, "\n");
  if (const reel::Status finished = reel::FinishQrx(movie); !finished) {
    std::cerr << "qrxsample: " << finished.error().message << "\n";
    return 1;
  }
  std::cout << "wrote " << s.output << ": " << s.frames << " frames, " << reel::QrxWidth(movie) << " x "
            << reel::QrxHeight(movie) << ", " << s.rate << " fps, quality " << s.quality << "\n";
  return 0;
}
