// The binary interface of gogo.dll, the MP3 encoder module, as any client on 64-bit Linux uses it.
//
// The module has no handles: it encodes one stream at a time, held inside the module. A client
//   1. calls MPGE_initializeWork,
//   2. sets items with MPGE_setConfigure (at least the input and the output),
//   3. calls MPGE_detectConfigure, which returns 0 when the configuration can be encoded,
//   4. calls MPGE_processFrame while it returns 0 (a non-zero result is the end of input or an error),
//   5. calls MPGE_closeCoder and then MPGE_endCoder.
// Input is pulled through the client's input function in requests of the module's own size (one
// MPEG frame of samples); the module stops asking once that function returns 1. Every byte of the
// stream has reached the client's output function, in stream order, by the time MPGE_endCoder
// returns.
//
// Bit rates: a rate the MPEG audio format does not allow at the output sample rate is replaced by
// the nearest allowed one (the lower one on a tie). At 32000, 44100 and 48000 Hz the allowed rates
// are 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256 and 320 kbit/s; at the lower rates
// 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144 and 160 kbit/s. So 320 kbit/s at 22050 Hz
// encodes at 160, and 8 kbit/s at 44100 Hz at 32.
#pragma once

#include <cstdint>

// Both callbacks take a buffer and its length in bytes and return 0 on success. The input function
// returns 1 when the input has ended; any other non-zero result from either ends the encoding as
// an error.
using MpgeInputFunction = int32_t (*)(void* buffer, uint32_t length);
using MpgeOutputFunction = int32_t (*)(void* buffer, uint32_t length);

// Describes the input for item kMpgeItemInput: where it comes from and what it is. Samples are
// interleaved, 8-bit unsigned or 16-bit signed little-endian. The size lets the module drop the
// zero bytes a client pads its last request with; 0 means the size is not known.
struct MpgeInputDescription {
  MpgeInputFunction read;
  uint32_t sizeInBytes;
  uint32_t bitsPerSample;
  uint32_t samplesPerSecond;
  uint32_t channels;
};

// Results of the entry points.
enum : int32_t {
  kMpgeOk = 0,
  kMpgeEndOfInput = 1,      // MPGE_processFrame: the input has ended and the stream is complete
  kMpgeNotConfigured = 2,   // a call came before the steps it needs
  kMpgeBadValue = 3,        // an item's value cannot be used
  kMpgeUnknownItem = 4,
  kMpgeEncoderFailed = 5,   // the encoder refused its parameters or failed while encoding
  kMpgeCallbackFailed = 6,  // the input or output function reported an error
};

// Items of MPGE_setConfigure and MPGE_getConfigure, with their first and second values.
enum : uint32_t {
  kMpgeItemInput = 1,        // first 2: input by function; second: address of an MpgeInputDescription
  kMpgeItemOutput = 2,       // first 2: output by function; second: address of the output function
  kMpgeItemMode = 3,         // first 0: mono, 1: stereo (joint coding where it helps)
  kMpgeItemBitRate = 4,      // first: bit rate in kbit/s (default 128)
  kMpgeItemOutputRate = 6,   // first: output sample rate in Hz; 0 (default) keeps the input's
  kMpgeItemProtection = 8,   // first 1: each frame carries a CRC (default 0)
  kMpgeItemInfoFrame = 9,    // first 1 (default): the stream opens with an information frame
                             // giving the encoder delay and padding, so decoders that read it
                             // play exactly the input's length
  kMpgeItemConstantRate = 10,  // first 1 (default): every frame at the bit rate; 0: average rate
};

inline constexpr uint32_t kMpgeByFunction = 2;

extern "C" {
int32_t MPGE_initializeWork();
int32_t MPGE_setConfigure(uint32_t item, uintptr_t first, uintptr_t second);
// Stores the first value of an item in *value.
int32_t MPGE_getConfigure(uint32_t item, uintptr_t* value);
int32_t MPGE_detectConfigure();
int32_t MPGE_processFrame();
int32_t MPGE_closeCoder();
int32_t MPGE_endCoder();
// Stores the version as major * 100 + minor in *version, and a short text into a buffer of
// textLength bytes (always terminated) when text is not null.
int32_t MPGE_getVersion(uint32_t* version, char* text, uint32_t textLength);
// Stores the number of encoding units (always 1) in *units.
int32_t MPGE_getUnitStates(uint32_t* units);
}

// The entry points' types, for clients that look them up by name.
using MpgeInitializeWork = int32_t (*)();
using MpgeSetConfigure = int32_t (*)(uint32_t, uintptr_t, uintptr_t);
using MpgeGetConfigure = int32_t (*)(uint32_t, uintptr_t*);
using MpgeDetectConfigure = int32_t (*)();
using MpgeProcessFrame = int32_t (*)();
using MpgeCloseCoder = int32_t (*)();
using MpgeEndCoder = int32_t (*)();
using MpgeGetVersion = int32_t (*)(uint32_t*, char*, uint32_t);
using MpgeGetUnitStates = int32_t (*)(uint32_t*);
