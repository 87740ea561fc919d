// The Ogg encoder library's one entry point: a block of PCM in memory becomes a complete Ogg Vorbis
// stream in memory, in one call.
#pragma once

#include <cstdint>

#include "platform/acm/wave_format.h"

#define OGGENC_API __attribute__((visibility("default")))

extern "C" {
// Encodes the whole PCM block with variable bit rate at `quality` (-0.1 lowest … 1.0 highest).
// `format` must be 16-bit PCM (tag 1) with 1 or 2 channels; `*length` is the PCM length in bytes
// on entry (a trailing part of a sample frame is ignored) and the length of the returned stream on
// return. The stream is complete (headers, every sample, end of stream) and belongs to the caller,
// who releases it with free(). On any refusal (a format other than the above, a quality outside
// its span, a null pointer, a negative length, no memory) the result is null and `*length` is 0.
OGGENC_API void* GetOggEncodeProcessMemory(float quality, const reel::WAVEFORMATEX* format, const void* pcm,
                                           int32_t* length);
}
