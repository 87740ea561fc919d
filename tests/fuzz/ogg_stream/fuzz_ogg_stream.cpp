// Arbitrary bytes as an Ogg Vorbis companion: libvorbisfile's parsing, the lead-in decoded before
// position 0, chained links, reads looping and not, and seeks must end without reading outside the
// data or spinning.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/audio/ogg_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // An exact-size copy, so reading past the end is caught.
  const std::vector<uint8_t> bytes(data, data + size);
  reel::OggStream stream;
  if (!stream.OpenMemory(bytes)) return 0;
  std::vector<int16_t> pcm(4096);
  for (int read = 0; read < 6 && !stream.Finished(); ++read) stream.ReadPcm(pcm, read % 2 == 0);
  for (const uint64_t frame : {uint64_t{700}, uint64_t{0}, uint64_t{1} << 40, uint64_t{5000}}) {
    const uint64_t landed = stream.Seek(frame);
    if (landed > frame) __builtin_trap();
    stream.ReadPcm(pcm, false);
  }
  return 0;
}
