#include "converter/engine/staged_output.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

namespace reel {
namespace {

// Output files are readable by everyone, as files made with the usual umask are.
constexpr mode_t kOutputMode = 0644;

}  // namespace

Result<StagedOutput> StagedOutput::Create(const std::string& finalPath) {
  const std::filesystem::path target(finalPath);
  const std::filesystem::path folder = target.parent_path();
  std::string pattern = (folder / ("." + target.filename().string() + ".part-XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int descriptor = mkstemp(buffer.data());
  if (descriptor < 0) {
    return MakeError(ErrorKind::kCannotWrite, finalPath,
                     std::string("cannot create a file in the output folder: ") + std::strerror(errno));
  }
  fchmod(descriptor, kOutputMode);
  close(descriptor);
  return StagedOutput(finalPath, std::string(buffer.data()));
}

StagedOutput::StagedOutput(std::string finalPath, std::string temporaryPath)
    : finalPath_(std::move(finalPath)), temporaryPath_(std::move(temporaryPath)) {}

StagedOutput::StagedOutput(StagedOutput&& other) noexcept
    : finalPath_(std::move(other.finalPath_)), temporaryPath_(std::exchange(other.temporaryPath_, std::string())) {}

StagedOutput& StagedOutput::operator=(StagedOutput&& other) noexcept {
  if (this != &other) {
    Discard();
    finalPath_ = std::move(other.finalPath_);
    temporaryPath_ = std::exchange(other.temporaryPath_, std::string());
  }
  return *this;
}

StagedOutput::~StagedOutput() { Discard(); }

void StagedOutput::Discard() {
  if (temporaryPath_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(temporaryPath_, ignored);
  temporaryPath_.clear();
}

Status StagedOutput::Commit() {
  std::error_code failure;
  std::filesystem::rename(temporaryPath_, finalPath_, failure);
  if (failure) {
    Discard();
    return MakeError(ErrorKind::kCannotWrite, finalPath_, "cannot store the finished file: " + failure.message());
  }
  temporaryPath_.clear();
  return {};
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code failure;
  if (std::filesystem::equivalent(a, b, failure) && !failure) return true;
  const auto left = std::filesystem::weakly_canonical(std::filesystem::absolute(a, failure), failure);
  if (failure) return false;
  const auto right = std::filesystem::weakly_canonical(std::filesystem::absolute(b, failure), failure);
  if (failure) return false;
  return left == right;
}

}  // namespace reel
