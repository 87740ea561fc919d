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

// The same encoding over PCM that arrives in pieces, for a soundtrack too long to hold whole. The
// stream's bytes go to `output` as its pages are made (with `context` as the first argument; a
// non-zero result stops the encoding as an error); joined, they are exactly what
// GetOggEncodeProcessMemory returns for the pieces joined, wherever the pieces are cut.
//   OggEncodeBegin: the arguments as above; a session, or null on a refusal (nothing written).
//   OggEncodeWrite: the next piece of PCM (any length; a trailing part of a sample frame waits
//     for the next piece). 0 on success, non-zero once the output function has failed.
//   OggEncodeEnd: with `complete` 1, encodes what is left and ends the stream; with 0, stops
//     without ending it. Frees the session either way. 0 on success.
using OggOutputFunction = int32_t (*)(void* context, const void* bytes, int32_t length);
OGGENC_API void* OggEncodeBegin(float quality, const reel::WAVEFORMATEX* format, OggOutputFunction output,
                                void* context);
OGGENC_API int32_t OggEncodeWrite(void* session, const void* pcm, int32_t length);
OGGENC_API int32_t OggEncodeEnd(void* session, int32_t complete);
}
