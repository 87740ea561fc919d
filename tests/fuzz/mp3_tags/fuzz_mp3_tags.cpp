// Arbitrary bytes as an MP3 file's tags and information frame: the audio range between an ID3v2
// tag at the start and an ID3v1 tag at the end, and the "Xing"/"Info" frame at the start of that
// audio (and at the very start, where a file without tags has it). The range must lie inside the
// file and the sound range an information frame gives must not run backwards.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "player/audio/mp3_info_frame.h"
#include "player/audio/mp3_tags.h"

namespace {

void CheckInfoFrame(std::span<const uint8_t> frame) {
  const auto info = reel::ReadMp3InfoFrame(frame);
  if (!info) return;
  if (info->samplesPerFrame != 1152 && info->samplesPerFrame != 576) std::abort();
  if (info->encoderDelay > 0xFFF || info->padding > 0xFFF) std::abort();
  const auto end = info->EndSample();
  if (end.has_value() != info->frames.has_value()) std::abort();
  if (end && *end < info->FirstSample()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> file(data, size);
  const reel::AudioRange range = reel::FindAudioRange(file);
  if (range.start > range.end || range.end > file.size()) std::abort();
  CheckInfoFrame(file);
  CheckInfoFrame(file.subspan(range.start, range.Size()));
  return 0;
}
