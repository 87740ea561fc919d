// Loading of the MP3 decoder plug-in and the process-wide lock and count around it.
//
// The state below is the one piece of process-wide state the player's sound keeps: the lock every
// plug-in call is made under, the count of streams, and the loaded module with its entry points.
// The count and the module change under their own small lock so that a stream being freed on the
// device's thread and one being created on the user-interface thread never race.
#include "player/audio/mp3_plugin.h"

#include <optional>
#include <span>

#include "common/byte_io.h"
#include "platform/module/loadable_module.h"

namespace reel {
namespace {

constexpr char kDefaultModuleName[] = "Lodestar.ovl";

struct PluginState {
  std::mutex call_lock;
  std::mutex count_lock;
  int32_t count = 0;
  std::string module_name = kDefaultModuleName;
  std::optional<LoadableModule> module;
  Mp3PluginEntries entries;
  bool usable = false;
};

PluginState& State() {
  static PluginState state;
  return state;
}

std::optional<Mp3PluginEntries> FindEntries(const LoadableModule& module) {
  Mp3PluginEntries entries;
  entries.get_decoder_version =
      module.Entry<Mp3PluginEntries::GetDecoderVersion>("__mp3_getdecver");
  entries.create = module.Entry<Mp3PluginEntries::Create>("__mp3_create");
  entries.destroy = module.Entry<Mp3PluginEntries::Destroy>("__mp3_destroy");
  entries.predecode = module.Entry<Mp3PluginEntries::Predecode>("__mp3_predecode");
  entries.decode = module.Entry<Mp3PluginEntries::Decode>("__mp3_decode");
  if (!entries.get_decoder_version || !entries.create || !entries.destroy || !entries.predecode ||
      !entries.decode) {
    return std::nullopt;
  }
  return entries;
}

void LoadPlugin(PluginState& state) {
  state.module = LoadableModule::Load(state.module_name);
  if (!state.module) return;
  std::optional<Mp3PluginEntries> entries = FindEntries(*state.module);
  if (!entries) {
    state.module.reset();  // a module without all five names is let go at once
    return;
  }
  state.entries = *entries;
  state.usable = true;
}

void UnloadPlugin(PluginState& state) {
  state.usable = false;
  state.entries = {};
  state.module.reset();
}

std::span<const uint8_t> HandleBytes(const void* handle, std::size_t offset, std::size_t size) {
  return {static_cast<const uint8_t*>(handle) + offset, size};
}

}  // namespace

uint16_t HandleChannels(const void* handle) {
  return LoadU16(HandleBytes(handle, 12, 2).first<2>());
}
uint32_t HandleFrameLength(const void* handle) {
  return LoadU32(HandleBytes(handle, 48, 4).first<4>());
}
uint32_t HandleBitRate(const void* handle) {
  return LoadU32(HandleBytes(handle, 60, 4).first<4>());
}
uint32_t HandleSampleRate(const void* handle) {
  return LoadU32(HandleBytes(handle, 64, 4).first<4>());
}

Mp3Plugin::Mp3Plugin() {
  PluginState& state = State();
  std::lock_guard guard(state.count_lock);
  if (state.count++ == 0) LoadPlugin(state);
  entries_ = state.usable ? &state.entries : nullptr;
}

Mp3Plugin::~Mp3Plugin() {
  PluginState& state = State();
  std::lock_guard guard(state.count_lock);
  if (--state.count == 0) UnloadPlugin(state);
}

std::mutex& Mp3Plugin::Lock() { return State().call_lock; }

void Mp3Plugin::SetModuleName(const std::string& name) {
  PluginState& state = State();
  std::lock_guard guard(state.count_lock);
  state.module_name = name;
}

}  // namespace reel
