// The soundtrack of a ".mj" file: the sound bytes of its first chunks joined, 16-bit PCM of the
// header's channels and rate. A chunk whose sound lies outside its bounds is left out, and the
// joined bytes end at their last whole sample frame: a chunk of an odd size in the middle simply
// runs on into the next.
//
// Two readers give the same bytes: the whole soundtrack in one block, the plain reference, and the
// soundtrack in pieces, a few chunks at a time, for a file of any length. A half-hour of 44.1 kHz
// stereo is 318 MB of PCM; the pieces hold a few tens of kilobytes of it at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "converter/audio/sound_pieces.h"
#include "converter/engine/mj_file.h"
#include "platform/acm/wave_format.h"

namespace reel {

// Which chunks carry the sound and in what format, from the header and the index alone.
struct MjSoundLayout {
  MjHeader header;                     // of the file the layout was made from
  std::optional<WAVEFORMATEX> format;  // none: the header's channels or rate are no PCM (no chunks then)
  uint32_t chunks = 0;                 // chunks 0 ... chunks - 1 carry sound
  bool beyondIndex = false;            // the header names more sound chunks than its index holds
  uint32_t outOfBounds = 0;            // of those chunks, the ones whose sound lies outside its bounds
};

MjSoundLayout LayOutMjSound(const MjFile& file);

// The whole soundtrack in one block.
std::vector<uint8_t> ReadWholeMjSound(MjFile& file, const MjSoundLayout& layout);

// The soundtrack in pieces, read through a handle of its own on `path` (which must still hold the
// file `layout` was made from). The bytes joined are ReadWholeMjSound's. A file that changed, a
// chunk in bounds that cannot be read, or `stopped` returning true ends the pieces with an error
// naming the file.
Result<std::unique_ptr<SoundPieces>> OpenMjSoundPieces(const std::string& path, const MjSoundLayout& layout,
                                                       std::function<bool()> stopped);

}  // namespace reel
