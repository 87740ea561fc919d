// Arbitrary bytes opened as a movie through the player's reader: the header and index checks,
// frames fetched forwards, backwards and at random through the loader thread, each decoded and
// drawn. Nothing may crash, hang or read outside a buffer.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "player/video/display.h"
#include "player/video/movie.h"
#include "player/video/qrx_reader.h"

namespace {

class NullPresenter : public reel::WindowPresenter {
 public:
  uint32_t ClientWidth() const override { return 320; }
  uint32_t ClientHeight() const override { return 240; }
  void CopyToWindow(std::span<const uint16_t>, uint32_t, uint32_t, const reel::WindowRect&) override {}
};

std::string MoviePath() {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder != nullptr ? folder : "/tmp") + "/fuzz-qrx-reader-" + std::to_string(::getpid()) + ".qrx";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::string path = MoviePath();
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  auto opened = reel::QrxReader::Open(path);
  if (!opened) return 0;
  std::unique_ptr<reel::QrxReader> reader = std::move(*opened);
  NullPresenter presenter;
  reel::Display display;
  display.Open(&presenter);
  reel::PictureHolder picture;
  const uint32_t count = reader->FrameCount();
  const uint32_t visits[] = {0, 1, 2, 5, 3, count - 1, count / 2, 0, count};
  for (const uint32_t k : visits) {
    if (picture.Decode(reader->GetFrame(k)) || picture.HasPicture()) {
      reel::DrawPicture(display, picture.View(reader->Width(), reader->Height()));
    }
  }
  return 0;
}
