// dlopen-backed module loading. RTLD_LOCAL keeps a module's symbols out of the global namespace,
// so two modules that export the same names never shadow each other.
#include "platform/module/loadable_module.h"

#include <dlfcn.h>

#include <utility>

namespace reel {

std::optional<LoadableModule> LoadableModule::Load(const std::string& name) {
  if (name.empty()) return std::nullopt;
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return std::nullopt;
  return LoadableModule(handle);
}

LoadableModule::LoadableModule(LoadableModule&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

LoadableModule& LoadableModule::operator=(LoadableModule&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

LoadableModule::~LoadableModule() { Close(); }

void LoadableModule::Close() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
}

void* LoadableModule::Symbol(const char* name) const {
  if (handle_ == nullptr || name == nullptr) return nullptr;
  return dlsym(handle_, name);
}

}  // namespace reel
