// Arbitrary bytes as a video stream's set-up and packets, judged for pictures nothing refers to.
// The first byte picks the codec, the second the set-up's length; the rest is packets, each after
// a byte giving its length. Nothing may be read outside the bytes given.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/mediagraph/unreferenced_pictures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  constexpr AVCodecID kCodecs[] = {AV_CODEC_ID_H264, AV_CODEC_ID_MPEG4, AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MPEG2VIDEO};
  if (size < 2) return 0;
  const std::span<const uint8_t> bytes(data, size);
  const AVCodecID codec = kCodecs[bytes[0] % 4];
  std::size_t at = 2;
  const std::size_t setupSize = bytes[1] < size - at ? bytes[1] : size - at;
  reel::UnreferencedPictures judge(codec, bytes.subspan(at, setupSize));
  at += setupSize;
  while (at < size) {
    const std::size_t length = bytes[at] < size - at - 1 ? bytes[at] : size - at - 1;
    (void)judge.Unreferenced(bytes.subspan(at + 1, length));
    at += 1 + length;
  }
  return 0;
}
