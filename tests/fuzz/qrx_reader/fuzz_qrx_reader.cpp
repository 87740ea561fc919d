// Arbitrary bytes opened as a movie through the player's reader: the header and index checks,
// frames fetched forwards, backwards and at random through the loader thread, each decoded and
// drawn. Nothing may crash, hang or read outside a buffer.
//
// Each distinct frame is decoded and drawn once, at its first visit: decoding the same bytes again
// would only repeat the work (the frame decoder has a harness of its own). The display is opened
// once, as the player opens it once for every movie it plays; the picture holder is reset for each
// movie, so that no picture or table carries over from one input to the next.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "player/video/display.h"
#include "player/video/movie.h"
#include "player/video/qrx_reader.h"
#include "tests/fuzz/input_file.h"

namespace {

class NullPresenter : public reel::WindowPresenter {
 public:
  uint32_t ClientWidth() const override { return 320; }
  uint32_t ClientHeight() const override { return 240; }
  void CopyToWindow(std::span<const uint16_t>, uint32_t, uint32_t, const reel::WindowRect&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const reel::fuzz::InputFile input;  // in memory: no file is left behind
  if (!input.Write(std::span(data, size))) return 0;
  auto opened = reel::QrxReader::Open(input.Path());
  if (!opened) return 0;
  std::unique_ptr<reel::QrxReader> reader = std::move(*opened);
  static NullPresenter presenter;
  static reel::Display display;
  static const bool displayOpen = display.Open(&presenter);
  (void)displayOpen;
  static reel::PictureHolder picture;  // one for every movie, reset to be as new: its memory is reused
  picture.Reset();
  const uint32_t count = reader->FrameCount();
  const uint32_t visits[] = {0, 1, 2, 5, 3, count - 1, count / 2, 0, count};
  std::vector<uint32_t> decoded;
  for (const uint32_t k : visits) {
    const auto frame = reader->GetFrame(k);
    if (std::find(decoded.begin(), decoded.end(), k) != decoded.end()) continue;
    decoded.push_back(k);
    if (picture.Decode(frame) || picture.HasPicture()) {
      reel::DrawPicture(display, picture.View(reader->Width(), reader->Height()));
    }
  }
  return 0;
}
