#include "converter/engine/mj_sound.h"

#include <utility>

namespace reel {
namespace {

// A piece gathers chunks until it holds this much: about three-quarters of a second of 22050 Hz
// stereo, many chunks at any frame rate, so a piece's costs (a stop check, a conversion call) stay
// small beside its bytes.
constexpr std::size_t kPieceBytes = 64 << 10;

bool UsablePcm(const MjHeader& header) {
  return header.channels >= 1 && header.channels <= 2 && header.sampleRate != 0;
}

class MjPieces : public StoppableSource {
 public:
  MjPieces(MjFile file, std::string path, uint32_t chunks, uint16_t blockAlign, std::function<bool()> stopped)
      : StoppableSource(std::move(stopped), std::move(path)), file_(std::move(file)), chunks_(chunks),
        blockAlign_(blockAlign) {}

  Result<bool> Next(std::vector<uint8_t>& out) override {
    if (Status going = Interruption(); !going) return going.error();
    const std::size_t start = out.size();
    out.insert(out.end(), partial_.begin(), partial_.end());
    partial_.clear();
    while (next_ < chunks_ && out.size() - start < kPieceBytes) {
      const uint32_t chunk = next_++;
      const auto sound = file_.Sound(chunk);
      if (sound) {
        out.insert(out.end(), sound->begin(), sound->end());
      } else if (file_.SoundSize(chunk)) {
        return MakeError(ErrorKind::kCannotRead, Path(), "cannot read the sound of chunk " + std::to_string(chunk));
      }
    }
    // Only whole sample frames go on; the start of one that a chunk breaks off waits for the next
    // chunk, and is left out when no chunk follows.
    const std::size_t broken = (out.size() - start) % blockAlign_;
    partial_.assign(out.end() - static_cast<std::ptrdiff_t>(broken), out.end());
    out.resize(out.size() - broken);
    return next_ < chunks_;
  }

 private:
  MjFile file_;
  uint32_t chunks_;
  uint16_t blockAlign_;
  uint32_t next_ = 0;
  std::vector<uint8_t> partial_;
};

}  // namespace

MjSoundLayout LayOutMjSound(const MjFile& file) {
  MjSoundLayout layout;
  layout.header = file.Header();
  const MjHeader& header = layout.header;
  if (!UsablePcm(header)) return layout;
  layout.format = PcmWaveFormat(header.sampleRate, header.channels, 16);
  layout.chunks = header.soundChunksPlusOne > 0 ? header.soundChunksPlusOne - 1u : 0u;
  if (layout.chunks > header.indexEntries) {
    layout.beyondIndex = true;
    layout.chunks = header.indexEntries;
  }
  for (uint32_t e = 0; e < layout.chunks; ++e) {
    if (!file.SoundSize(e)) ++layout.outOfBounds;
  }
  return layout;
}

std::vector<uint8_t> ReadWholeMjSound(MjFile& file, const MjSoundLayout& layout) {
  std::vector<uint8_t> pcm;
  if (!layout.format) return pcm;
  for (uint32_t e = 0; e < layout.chunks; ++e) {
    const auto sound = file.Sound(e);
    if (sound) pcm.insert(pcm.end(), sound->begin(), sound->end());
  }
  pcm.resize(pcm.size() - pcm.size() % layout.format->blockAlign);
  return pcm;
}

Result<std::unique_ptr<SoundPieces>> OpenMjSoundPieces(const std::string& path, const MjSoundLayout& layout,
                                                       std::function<bool()> stopped) {
  Result<MjFile> file = MjFile::Open(path);
  if (!file) return file.error();
  if (!(file->Header() == layout.header)) {
    return MakeError(ErrorKind::kCannotRead, path, "the .mj file changed while it was being converted");
  }
  const uint32_t chunks = layout.format ? layout.chunks : 0;
  const uint16_t blockAlign = layout.format ? layout.format->blockAlign : uint16_t{1};
  return std::unique_ptr<SoundPieces>(
      std::make_unique<MjPieces>(std::move(*file), path, chunks, blockAlign, std::move(stopped)));
}

}  // namespace reel
