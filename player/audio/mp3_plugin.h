// The MP3 decoder plug-in "Lodestar.ovl", loaded at run time.
//
// The plug-in is loaded when the first reference is taken and unloaded when the last one goes, so a
// process-wide count of references (one per Mp3Stream) keeps it loaded. Every call into it is made
// under the one process-wide lock, Mp3Plugin::Lock(); a stream also holds that lock while it moves
// its read position. When the module or any of its five entry points is missing the module is let
// go and Entries() is null: the stream then has no decoder and plays silence.
//
// The entry points, the handle's fields and the output area are those of
// modules/mp3dec/lodestar_interface.h, which the plug-in is built against.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "modules/mp3dec/lodestar_interface.h"

namespace reel {

struct Mp3PluginEntries {
  LodestarGetDecoderVersion getDecoderVersion = nullptr;  // must exist, never called
  LodestarCreate create = nullptr;
  LodestarDestroy destroy = nullptr;
  LodestarPredecode predecode = nullptr;
  LodestarDecode decode = nullptr;
};

// The longest frame the stream copies for the decoder; a longer one ends the data.
inline constexpr std::size_t kMp3FrameCopyBytes = 2882;

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

  // The module name used at the next load (kLodestarModuleName unless changed): a bare name goes
  // through the normal library search, a path is opened as it stands.
  static void SetModuleName(const std::string& name);

 private:
  const Mp3PluginEntries* entries_ = nullptr;
};

}  // namespace reel
