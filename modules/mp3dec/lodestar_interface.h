// The binary interface of "Lodestar.ovl", the player's MP3 decoder plug-in, as the plug-in and the
// player both use it.
//
// A client loads the module at run time, looks up the five entry points by the names below (all
// five must exist; the version entry is never called) and then, for one stream:
//   1. calls __mp3_create with the first four bytes of the first audio frame; a null handle means
//      the data cannot be decoded,
//   2. for each frame, calls __mp3_predecode on the four bytes at its read position: 0 means a
//      frame starts there and sets the frame length in the handle, anything else that no further
//      frame can be read,
//   3. calls __mp3_decode with a copy of the frame (frame length bytes, or fewer at the end of the
//      data) and an output area of kLodestarPcmAreaBytes; it writes 16-bit signed PCM, channels
//      interleaved, and returns the samples per channel (0: no more sound),
//   4. calls __mp3_destroy.
// The handle points to the decoder's state; the client reads four little-endian fields from its
// first bytes at the offsets below. The client makes every call under one process-wide lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/byte_io.h"

namespace reel {

inline constexpr char kLodestarModuleName[] = "Lodestar.ovl";

inline constexpr char kLodestarGetDecoderVersionName[] = "__mp3_getdecver";
inline constexpr char kLodestarCreateName[] = "__mp3_create";
inline constexpr char kLodestarDestroyName[] = "__mp3_destroy";
inline constexpr char kLodestarPredecodeName[] = "__mp3_predecode";
inline constexpr char kLodestarDecodeName[] = "__mp3_decode";

using LodestarGetDecoderVersion = int32_t (*)();
using LodestarCreate = void* (*)(const uint8_t* firstFour);
using LodestarDestroy = void (*)(void* handle);
using LodestarPredecode = int32_t (*)(void* handle, const uint8_t* at);
using LodestarDecode = int32_t (*)(void* handle, int16_t* pcm, const uint8_t* frame);

// Byte offsets of the fields a client reads from a handle.
inline constexpr std::size_t kLodestarChannelsOffset = 12;     // 16-bit channel count
inline constexpr std::size_t kLodestarFrameLengthOffset = 48;  // 32-bit, set by each predecode
inline constexpr std::size_t kLodestarBitRateOffset = 60;      // 32-bit, kbit/s
inline constexpr std::size_t kLodestarSampleRateOffset = 64;   // 32-bit, Hz
// The handle's first bytes that hold those fields.
inline constexpr std::size_t kLodestarFieldBytes = 68;

// Bytes __mp3_decode may write: 1152 stereo samples of 16 bits, and two to spare.
inline constexpr std::size_t kLodestarPcmAreaBytes = 4610;

// The fields of a handle, read as a client reads them.
inline std::span<const uint8_t, kLodestarFieldBytes> LodestarFields(const void* handle) {
  return std::span<const uint8_t, kLodestarFieldBytes>(static_cast<const uint8_t*>(handle),
                                                       kLodestarFieldBytes);
}
inline uint16_t LodestarChannels(const void* handle) {
  return LoadU16(LodestarFields(handle).subspan<kLodestarChannelsOffset, 2>());
}
inline uint32_t LodestarFrameLength(const void* handle) {
  return LoadU32(LodestarFields(handle).subspan<kLodestarFrameLengthOffset, 4>());
}
inline uint32_t LodestarBitRate(const void* handle) {
  return LoadU32(LodestarFields(handle).subspan<kLodestarBitRateOffset, 4>());
}
inline uint32_t LodestarSampleRate(const void* handle) {
  return LoadU32(LodestarFields(handle).subspan<kLodestarSampleRateOffset, 4>());
}

}  // namespace reel

// The entry points the plug-in exports (a client finds them by name, it does not link them).
#define REEL_LODESTAR_EXPORT __attribute__((visibility("default")))
extern "C" {
REEL_LODESTAR_EXPORT int32_t __mp3_getdecver();
REEL_LODESTAR_EXPORT void* __mp3_create(const uint8_t* firstFour);
REEL_LODESTAR_EXPORT void __mp3_destroy(void* handle);
REEL_LODESTAR_EXPORT int32_t __mp3_predecode(void* handle, const uint8_t* at);
REEL_LODESTAR_EXPORT int32_t __mp3_decode(void* handle, int16_t* pcm, const uint8_t* frame);
}  // extern "C"
