#include "converter/engine/staged_output.h"

#include "converter/engine/pair_commit.h"

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
// What the temporary name adds to the real one: a leading "." and ".part-XXXXXX".
constexpr std::size_t kTemporaryNameExtra = 13;
constexpr long kCommonNameMax = 255;

// The longest file name the folder's file system takes.
std::size_t NameMax(const std::filesystem::path& folder) {
  errno = 0;
  const long limit = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  return static_cast<std::size_t>(limit > 0 ? limit : kCommonNameMax);
}

// A hidden name beside the real one; a real name near the file system's limit is shortened in it.
std::string TemporaryPattern(const std::filesystem::path& folder, const std::string& name, std::size_t nameMax) {
  std::string kept = name;
  if (kept.size() + kTemporaryNameExtra > nameMax) kept.resize(nameMax > kTemporaryNameExtra ? nameMax - kTemporaryNameExtra : 0);
  return (folder / ("." + kept + ".part-XXXXXX")).string();
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

Result<StagedOutput> StagedOutput::Create(const std::string& finalPath) {
  const std::filesystem::path target(finalPath);
  const std::filesystem::path folder = target.parent_path();
  const std::string name = target.filename().string();
  const std::size_t nameMax = NameMax(folder);
  if (name.size() > nameMax) {
    return MakeError(ErrorKind::kCannotWrite, finalPath,
                     "the name is too long for the output folder's file system (" + std::to_string(name.size()) +
                         " bytes, at most " + std::to_string(nameMax) + ")");
  }
  std::string pattern = TemporaryPattern(folder, name, nameMax);
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int descriptor = mkstemp(buffer.data());
  if (descriptor < 0) {
    return MakeError(ErrorKind::kCannotWrite, finalPath,
                     std::string("cannot create a file in the output folder: ") + std::strerror(errno));
  }
  fchmod(descriptor, kOutputMode);
  if (close(descriptor) != 0) {
    const int cause = errno;
    unlink(buffer.data());
    return MakeError(ErrorKind::kCannotWrite, finalPath,
                     std::string("cannot create a file in the output folder: ") + std::strerror(cause));
  }
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
  if (Status stored = StoreTogether({FinishedFile{temporaryPath_, finalPath_}}); !stored) {
    Discard();
    return stored;
  }
  temporaryPath_.clear();
  return {};
}

Result<StagedOutput*> StagedOutputs::Stage(const std::string& finalPath) {
  Result<StagedOutput> staged = StagedOutput::Create(finalPath);
  if (!staged) return staged.error();
  return Adopt(std::move(*staged));
}

StagedOutput* StagedOutputs::Adopt(StagedOutput output) {
  entries_.push_back(Entry{std::move(output), false, Role::kCompanion});
  return &entries_.back().output;
}

void StagedOutputs::Keep(const StagedOutput* output, Role role) {
  for (auto entry = entries_.begin(); entry != entries_.end();) {
    if (&entry->output == output) {
      entry->kept = true;
      entry->role = role;
      ++entry;
    } else if (entry->kept && entry->output.FinalPath() == output->FinalPath()) {
      entry = entries_.erase(entry);
    } else {
      ++entry;
    }
  }
}

Status StagedOutputs::CommitAll() {
  // A folder of a real name cannot be replaced: found before anything is renamed.
  for (const Entry& entry : entries_) {
    std::error_code ignored;
    if (entry.kept && std::filesystem::is_directory(entry.output.FinalPath(), ignored)) {
      return MakeError(ErrorKind::kCannotWrite, entry.output.FinalPath(), "a folder of that name is in the way");
    }
  }
  std::vector<FinishedFile> files;
  for (const Role role : {Role::kCompanion, Role::kMovie}) {
    for (const Entry& entry : entries_) {
      if (entry.kept && entry.role == role) files.push_back({entry.output.TemporaryPath(), entry.output.FinalPath()});
    }
  }
  if (Status stored = StoreTogether(files); !stored) return stored;
  for (Entry& entry : entries_) {
    if (entry.kept) entry.output.temporaryPath_.clear();
  }
  entries_.clear();
  return {};
}

Error StagedOutputs::InRealNames(Error error) const {
  for (const Entry& entry : entries_) ReplaceAll(error.message, entry.output.TemporaryPath(), entry.output.FinalPath());
  return error;
}

void RemoveStagedLeftovers(const std::string& finalPath) {
  const std::filesystem::path target(finalPath);
  const std::filesystem::path folder = target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
  const std::string pattern = TemporaryPattern({}, target.filename().string(), NameMax(folder));
  const std::string prefix = pattern.substr(0, pattern.size() - 6);  // without the "XXXXXX"
  std::error_code failure;
  for (std::filesystem::directory_iterator entry(folder, failure), end; !failure && entry != end;
       entry.increment(failure)) {
    const std::string name = entry->path().filename().string();
    if (name.size() == pattern.size() && name.compare(0, prefix.size(), prefix) == 0) {
      std::error_code ignored;
      std::filesystem::remove(entry->path(), ignored);
    }
  }
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
