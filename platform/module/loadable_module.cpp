// dlopen-backed module loading. RTLD_LOCAL keeps a module's symbols out of the global namespace,
// so two modules that export the same names never shadow each other.
//
// A bare name is first looked for in the running program's own folder, as the platform's loader
// looks in the application's folder first (in the build tree, modules lie beside the programs),
// then in the installed modules' folder beside it (PREFIX/lib/reelforge for a program in
// PREFIX/bin). The run path names both, but only when the program itself calls dlopen: under the
// sanitizers dlopen is called from their runtime library, whose run path names neither.
#include "platform/module/loadable_module.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>
#include <utility>

namespace reel {
namespace {

void* OpenIfPresent(const std::filesystem::path& candidate) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(candidate, error)) return nullptr;
  return dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* OpenNearProgram(const std::string& name) {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return nullptr;
  const std::filesystem::path folder = program.parent_path();
  if (void* handle = OpenIfPresent(folder / name)) return handle;
  return OpenIfPresent(folder / REEL_MODULEDIR_FROM_BINDIR / name);
}

}  // namespace

std::optional<LoadableModule> LoadableModule::Load(const std::string& name) {
  if (name.empty()) return std::nullopt;
  void* handle = name.find('/') == std::string::npos ? OpenNearProgram(name) : nullptr;
  if (handle == nullptr) handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
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
