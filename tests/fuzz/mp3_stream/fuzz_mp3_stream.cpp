// Arbitrary bytes as an MP3 file: tag handling, the plug-in's frame parsing and decoding, and the
// stream's reads, looping and not, must end without reading outside the data or spinning.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "player/audio/mp3_plugin.h"
#include "player/audio/mp3_stream.h"
#include "player/audio/mp3_tags.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // One reference held for the whole run keeps the plug-in loaded: the fuzzer keeps pointers to
  // the coverage counters of every module it has seen, so the module must never be unloaded.
  static const bool configured = [] {
    reel::Mp3Plugin::SetModuleName(REEL_LODESTAR_PATH);
    return true;
  }();
  static const reel::Mp3Plugin keep_loaded;
  (void)configured;
  (void)keep_loaded;
  // An exact-size copy, so reading past the end is caught.
  const std::vector<uint8_t> bytes(data, data + size);
  const reel::AudioRange range = reel::FindAudioRange(bytes);
  if (range.start > range.end || range.end > bytes.size()) __builtin_trap();
  reel::Mp3Stream stream;
  if (!stream.OpenMemory(bytes)) return 0;
  std::vector<int16_t> pcm(4096);
  for (int read = 0; read < 8 && !stream.Finished(); ++read) stream.ReadPcm(pcm, read % 2 == 0);
  return 0;
}
