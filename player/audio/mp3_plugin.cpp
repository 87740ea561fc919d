// Loading of the MP3 decoder plug-in and the process-wide lock and count around it.
//
// The state below is the one piece of process-wide state the player's sound keeps: the lock every
// plug-in call is made under, the count of streams, and the loaded module with its entry points.
// The count and the module change under their own small lock so that a stream being freed on the
// device's thread and one being created on the user-interface thread never race.
#include "player/audio/mp3_plugin.h"

#include <optional>

#include "platform/module/loadable_module.h"

namespace reel {
namespace {

struct PluginState {
  std::mutex callLock;
  std::mutex countLock;
  int32_t count = 0;
  std::string moduleName = kLodestarModuleName;
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
  entries.getDecoderVersion =
      module.Entry<LodestarGetDecoderVersion>(kLodestarGetDecoderVersionName);
  entries.create = module.Entry<LodestarCreate>(kLodestarCreateName);
  entries.destroy = module.Entry<LodestarDestroy>(kLodestarDestroyName);
  entries.predecode = module.Entry<LodestarPredecode>(kLodestarPredecodeName);
  entries.decode = module.Entry<LodestarDecode>(kLodestarDecodeName);
  if (!entries.getDecoderVersion || !entries.create || !entries.destroy || !entries.predecode ||
      !entries.decode) {
    return std::nullopt;
  }
  return entries;
}

void LoadPlugin(PluginState& state) {
  state.module = LoadableModule::Load(state.moduleName);
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

}  // namespace

Mp3Plugin::Mp3Plugin() {
  PluginState& state = State();
  std::lock_guard guard(state.countLock);
  if (state.count++ == 0) LoadPlugin(state);
  entries_ = state.usable ? &state.entries : nullptr;
}

Mp3Plugin::~Mp3Plugin() {
  PluginState& state = State();
  std::lock_guard guard(state.countLock);
  if (--state.count == 0) UnloadPlugin(state);
}

std::mutex& Mp3Plugin::Lock() { return State().callLock; }

void Mp3Plugin::SetModuleName(const std::string& name) {
  PluginState& state = State();
  std::lock_guard guard(state.countLock);
  state.moduleName = name;
}

}  // namespace reel
