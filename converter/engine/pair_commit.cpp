#include "converter/engine/pair_commit.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

namespace reel {
namespace {

constexpr long kCommonNameMax = 255;
constexpr int kBackupTries = 100;

std::string Cause() { return std::strerror(errno); }

std::filesystem::path FolderOf(const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

// A hidden name beside `path`: "." + its name (shortened to fit the file system) + `suffix`.
std::string HiddenName(const std::string& path, const std::string& suffix) {
  const std::filesystem::path target(path);
  errno = 0;
  const long limit = pathconf(FolderOf(path).c_str(), _PC_NAME_MAX);
  const std::size_t nameMax = static_cast<std::size_t>(limit > 0 ? limit : kCommonNameMax);
  std::string name = target.filename().string();
  const std::size_t extra = 1 + suffix.size();
  if (name.size() + extra > nameMax) name.resize(nameMax > extra ? nameMax - extra : 0);
  return (target.parent_path() / ("." + name + suffix)).string();
}

// Flushes a file's data to the disk. Only a descriptor opened for reading is used, so there is
// nothing for its close to lose.
Status FlushFile(const std::string& path, const std::string& shownAs) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return MakeError(ErrorKind::kCannotWrite, shownAs, "cannot flush the finished file: " + Cause());
  const bool flushed = ::fsync(descriptor) == 0;
  const int cause = errno;
  ::close(descriptor);
  if (!flushed) {
    return MakeError(ErrorKind::kCannotWrite, shownAs, std::string("cannot flush the finished file: ") + std::strerror(cause));
  }
  return {};
}

// Flushes the folder, so that the renames in it survive a power cut.
bool FlushFolder(const std::filesystem::path& folder) {
  const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return false;
  const bool flushed = ::fsync(descriptor) == 0;
  const int cause = errno;
  ::close(descriptor);
  errno = cause;
  return flushed;
}

// An advisory lock on one real name: a hidden lock file beside it, removed when the lock is let go.
// A job that waited for the lock while its holder removed the file takes the lock anew on the
// file now of that name, so two jobs never hold the lock on one name at once.
class NameLock {
 public:
  // The lock file's name for `finalPath`. Names too long for the file system share one when they
  // differ only past the shortened part; they are then stored one job at a time all the same.
  static std::string PathFor(const std::string& finalPath) { return HiddenName(finalPath, ".lock"); }

  static Result<NameLock> Take(const std::string& lockPath, const std::string& finalPath) {
    for (;;) {
      const int descriptor = ::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
      if (descriptor < 0) {
        return MakeError(ErrorKind::kCannotWrite, finalPath, "cannot lock the name for storing: " + Cause());
      }
      int locked;
      do {
        locked = ::flock(descriptor, LOCK_EX);
      } while (locked != 0 && errno == EINTR);
      if (locked != 0) {
        const std::string cause = Cause();
        ::close(descriptor);
        return MakeError(ErrorKind::kCannotWrite, finalPath, "cannot lock the name for storing: " + cause);
      }
      struct stat held {}, named {};
      if (::fstat(descriptor, &held) == 0 && ::stat(lockPath.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        return NameLock(lockPath, descriptor);
      }
      ::close(descriptor);  // the holder before us removed that file: lock the new one
    }
  }

  NameLock(NameLock&& other) noexcept
      : path_(std::move(other.path_)), descriptor_(std::exchange(other.descriptor_, -1)) {}
  NameLock& operator=(NameLock&&) = delete;
  NameLock(const NameLock&) = delete;
  NameLock& operator=(const NameLock&) = delete;
  ~NameLock() {
    if (descriptor_ < 0) return;
    ::unlink(path_.c_str());
    ::close(descriptor_);
  }

 private:
  NameLock(std::string path, int descriptor) : path_(std::move(path)), descriptor_(descriptor) {}
  std::string path_;
  int descriptor_ = -1;
};

// One file on its way into place.
struct Step {
  FinishedFile file;
  std::string older;  // the older file of the real name, under a hidden name; empty when none
  bool olderMoved = false;  // the older file was renamed aside (no hard links), not linked
  bool placed = false;
};

std::string RandomSuffix(std::mt19937& random) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::uniform_int_distribution<std::size_t> pick(0, sizeof(kLetters) - 2);
  std::string suffix = ".keep-";
  for (int i = 0; i < 6; ++i) suffix += kLetters[pick(random)];
  return suffix;
}

bool NoHardLinks(int cause) { return cause == EPERM || cause == EOPNOTSUPP || cause == EXDEV || cause == EMLINK; }

// Keeps the older file of the step's real name under a hidden name: a second link while the real
// name stays in place, or, on a file system without hard links, the file itself renamed aside.
Status KeepOlder(Step& step, std::mt19937& random) {
  struct stat existing {};
  if (::lstat(step.file.finalPath.c_str(), &existing) != 0) return {};
  if (S_ISDIR(existing.st_mode)) return MakeError(ErrorKind::kCannotWrite, step.file.finalPath, "a folder of that name is in the way");
  for (int attempt = 0; attempt < kBackupTries; ++attempt) {
    const std::string older = HiddenName(step.file.finalPath, RandomSuffix(random));
    if (::link(step.file.finalPath.c_str(), older.c_str()) == 0) {
      step.older = older;
      return {};
    }
    if (errno == EEXIST) continue;
    if (!NoHardLinks(errno)) break;
    if (::rename(step.file.finalPath.c_str(), older.c_str()) != 0) break;
    step.older = older;
    step.olderMoved = true;
    return {};
  }
  return MakeError(ErrorKind::kCannotWrite, step.file.finalPath, "cannot keep the older file aside: " + Cause());
}

// Puts every older file back and removes the new ones; true when all went back.
bool PutBack(std::vector<Step>& steps) {
  bool whole = true;
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
    const char* finalPath = step->file.finalPath.c_str();
    bool back = true;
    if (step->placed && step->older.empty()) {
      ::unlink(finalPath);
    } else if (step->placed || step->olderMoved) {
      back = ::rename(step->older.c_str(), finalPath) == 0;
    } else if (!step->older.empty()) {
      ::unlink(step->older.c_str());
    }
    if (back) step->older.clear();
    whole = whole && back;
    step->placed = false;
  }
  return whole;
}

// `error` after the older files were put back; says where an older file is kept if that failed.
Error Undone(std::vector<Step>& steps, const std::filesystem::path& folder, Error error) {
  const bool whole = PutBack(steps);
  FlushFolder(folder);
  if (!whole) {
    for (const Step& step : steps) {
      if (!step.older.empty()) error.message += "; the older " + step.file.finalPath + " is kept as " + step.older;
    }
  }
  return error;
}

}  // namespace

Status FlushAhead(const std::string& temporaryPath, const std::string& finalPath) {
  return FlushFile(temporaryPath, finalPath);
}

Status StoreTogether(const std::vector<FinishedFile>& files) {
  if (files.empty()) return {};
  for (const FinishedFile& file : files) {
    if (Status flushed = FlushFile(file.temporaryPath, file.finalPath); !flushed) return flushed;
  }
  // Names are locked in one order, so two jobs that share several names cannot wait for each other;
  // a lock file that stands for two of the names is taken once.
  std::vector<std::pair<std::string, std::string>> names;  // lock file, real name
  for (const FinishedFile& file : files) names.emplace_back(NameLock::PathFor(file.finalPath), file.finalPath);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
              names.end());
  std::vector<NameLock> locks;
  for (const auto& [lockPath, finalPath] : names) {
    Result<NameLock> lock = NameLock::Take(lockPath, finalPath);
    if (!lock) return lock.error();
    locks.push_back(std::move(*lock));
  }

  const std::filesystem::path folder = FolderOf(files.front().finalPath);
  std::mt19937 random(std::random_device{}());
  std::vector<Step> steps;
  for (const FinishedFile& file : files) {
    steps.push_back(Step{file, {}, false, false});
    if (Status kept = KeepOlder(steps.back(), random); !kept) return Undone(steps, folder, kept.error());
  }
  for (Step& step : steps) {
    if (::rename(step.file.temporaryPath.c_str(), step.file.finalPath.c_str()) != 0) {
      return Undone(steps, folder,
                    MakeError(ErrorKind::kCannotWrite, step.file.finalPath, "cannot store the finished file: " + Cause()));
    }
    step.placed = true;
  }
  if (!FlushFolder(folder)) {
    return Undone(steps, folder,
                  MakeError(ErrorKind::kCannotWrite, files.back().finalPath, "cannot flush the output folder: " + Cause()));
  }
  for (const Step& step : steps) {
    if (!step.older.empty()) ::unlink(step.older.c_str());
  }
  return {};
}

}  // namespace reel
