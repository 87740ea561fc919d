// The MP3 decoder plug-in "Lodestar.ovl", loaded at run time.
//
// The plug-in is loaded when the first reference is taken and unloaded when the last one goes, so a
// process-wide count of references (one per Mp3Stream) keeps it loaded. Every call into it is made
// under the one process-wide lock, Mp3Plugin::Lock(); a stream also holds that lock while it moves
// its read position. When the module or any of its five entry points is missing the module is let
// go and Entries() is null: the stream then has no decoder and plays silence.
//
// The decoder handle points to the plug-in's state; four fields at fixed byte offsets are read from
// it: the channel count (16-bit at 12), the current frame's length (32-bit at 48, valid after each
// successful predecode), the bit rate in kbit/s (at 60) and the sample rate in Hz (at 64).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace reel {

struct Mp3PluginEntries {
  using GetDecoderVersion = int32_t (*)();
  using Create = void* (*)(const uint8_t* first_four);
  using Destroy = void (*)(void* handle);
  using Predecode = int32_t (*)(void* handle, const uint8_t* at);
  using Decode = int32_t (*)(void* handle, int16_t* pcm, const uint8_t* frame);

  GetDecoderVersion get_decoder_version = nullptr;  // must exist, never called
  Create create = nullptr;
  Destroy destroy = nullptr;
  Predecode predecode = nullptr;
  Decode decode = nullptr;
};

// Bytes the decode call may write: 1152 stereo samples of 16 bits, and two to spare.
inline constexpr std::size_t kMp3PcmAreaBytes = 4610;
// The longest frame the stream copies for the decoder; a longer one ends the data.
inline constexpr std::size_t kMp3FrameCopyBytes = 2882;

// Fields of a decoder handle.
uint16_t HandleChannels(const void* handle);
uint32_t HandleFrameLength(const void* handle);
uint32_t HandleBitRate(const void* handle);
uint32_t HandleSampleRate(const void* handle);

class Mp3Plugin {
 public:
  // Takes one reference, loading the module when it is the first.
  Mp3Plugin();
  Mp3Plugin(const Mp3Plugin&) = delete;
  Mp3Plugin& operator=(const Mp3Plugin&) = delete;
  ~Mp3Plugin();

  // Null when the module or one of its entry points is missing. Valid while this reference lives.
  const Mp3PluginEntries* Entries() const { return entries_; }

  // The process-wide lock around every plug-in call and every change of a stream's position.
  static std::mutex& Lock();

  // The module name used at the next load ("Lodestar.ovl" unless changed): a bare name goes
  // through the normal library search, a path is opened as it stands.
  static void SetModuleName(const std::string& name);

 private:
  const Mp3PluginEntries* entries_ = nullptr;
};

}  // namespace reel
