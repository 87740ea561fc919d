// A library preloaded (LD_PRELOAD) into a program under test to make its file calls fail on
// purpose. It sits between the program and the C library, so it also sees the calls that the
// libraries the program uses make (the demuxers and muxers, the encoders), which a seam in our own
// code would not.
//
// Only calls on files under REEL_FAULT_SCOPE (a folder) are counted; a call of another kind or on
// another file passes untouched. Settings, from the environment:
//   REEL_FAULT_KIND=open|write|pwrite|fsync|rename|close  with REEL_FAULT_AT=N  makes the N-th
//     counted call of that kind fail with REEL_FAULT_ERRNO (EIO or ENOSPC; EIO when unset).
//   REEL_FAULT_CRASH_AFTER_RENAME=N  ends the process right after the N-th counted rename, with
//     every file's data written since its last fsync dropped (as a power cut would), exit code 86.
//   REEL_FAULT_COUNT=file  appends "kind count" lines for the calls counted, at the process's end.
//   REEL_FAULT_TRACE=1  writes each counted call and its number to the standard error.
//   REEL_FAULT_SKIP_READS=1  leaves out opens for reading only (of files and of folders), for a
//     program that keeps reading the folder it writes to.
// A close fails only on a descriptor opened for writing, the one kind whose close can lose data.
// "write" covers write, writev and the stdio writes (fwrite, fputs, fputc, fflush); "open" covers
// open, creat, the mkstemp family and fopen.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>

namespace {

enum Kind { kOpen, kWrite, kPwrite, kFsync, kRename, kClose, kKinds };
const char* const kKindNames[kKinds] = {"open", "write", "pwrite", "fsync", "rename", "close"};
constexpr int kMaxDescriptors = 4096;
constexpr int kMaxDirty = 1024;
constexpr int kCrashExit = 86;

struct Settings {
  char scope[PATH_MAX] = {};
  std::size_t scopeLength = 0;
  int kind = -1;
  long at = 0;
  int error = EIO;
  long crashAfterRename = 0;
  char countFile[PATH_MAX] = {};
  bool skipReads = false;
  bool trace = false;
};

Settings settings;
std::atomic<long> counts[kKinds];
// Per descriptor: 0 not ours, 1 ours for reading, 2 ours for writing.
std::atomic<unsigned char> tracked[kMaxDescriptors];

// Files written through a counted descriptor: whether all is flushed, and the size at the last fsync.
struct Dirty {
  dev_t device;
  ino_t inode;
  off_t flushedSize;
  bool flushed;
};
Dirty dirty[kMaxDirty];
int dirtyCount = 0;
pthread_mutex_t dirtyLock = PTHREAD_MUTEX_INITIALIZER;

template <typename Function>
Function Real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

__attribute__((constructor)) void ReadSettings() {
  const char* scope = getenv("REEL_FAULT_SCOPE");
  if (scope != nullptr && realpath(scope, settings.scope) != nullptr) settings.scopeLength = strlen(settings.scope);
  if (const char* kind = getenv("REEL_FAULT_KIND")) {
    for (int k = 0; k < kKinds; ++k) {
      if (strcmp(kind, kKindNames[k]) == 0) settings.kind = k;
    }
  }
  if (const char* at = getenv("REEL_FAULT_AT")) settings.at = atol(at);
  if (const char* error = getenv("REEL_FAULT_ERRNO")) settings.error = strcmp(error, "ENOSPC") == 0 ? ENOSPC : EIO;
  if (const char* crash = getenv("REEL_FAULT_CRASH_AFTER_RENAME")) settings.crashAfterRename = atol(crash);
  settings.skipReads = getenv("REEL_FAULT_SKIP_READS") != nullptr;
  settings.trace = getenv("REEL_FAULT_TRACE") != nullptr;
  if (const char* count = getenv("REEL_FAULT_COUNT")) snprintf(settings.countFile, sizeof settings.countFile, "%s", count);
}

__attribute__((destructor)) void WriteCounts() {
  if (settings.countFile[0] == '\0') return;
  const int file = Real<int (*)(const char*, int, ...)>("open")(settings.countFile, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (file < 0) return;
  char line[64];
  for (int k = 0; k < kKinds; ++k) {
    const int length = snprintf(line, sizeof line, "%s %ld\n", kKindNames[k], counts[k].load());
    Real<ssize_t (*)(int, const void*, size_t)>("write")(file, line, static_cast<size_t>(length));
  }
  Real<int (*)(int)>("close")(file);
}

// True when `path` (relative to `folder`, a descriptor or AT_FDCWD) lies in the scope.
bool InScope(int folder, const char* path) {
  if (settings.scopeLength == 0 || path == nullptr) return false;
  char absolute[PATH_MAX * 2];
  if (path[0] == '/') {
    snprintf(absolute, sizeof absolute, "%s", path);
  } else {
    char base[PATH_MAX] = {};
    if (folder == AT_FDCWD) {
      if (getcwd(base, sizeof base) == nullptr) return false;
    } else {
      char link[64];
      snprintf(link, sizeof link, "/proc/self/fd/%d", folder);
      const ssize_t length = readlink(link, base, sizeof base - 1);
      if (length < 0) return false;
      base[length] = '\0';
    }
    snprintf(absolute, sizeof absolute, "%s/%s", base, path);
  }
  return strncmp(absolute, settings.scope, settings.scopeLength) == 0 &&
         (absolute[settings.scopeLength] == '/' || absolute[settings.scopeLength] == '\0');
}

bool Ours(int descriptor) { return descriptor >= 0 && descriptor < kMaxDescriptors && tracked[descriptor].load() != 0; }

void Track(int descriptor, bool writing) {
  if (descriptor >= 0 && descriptor < kMaxDescriptors) tracked[descriptor].store(writing ? 2 : 1);
}

void Untrack(int descriptor) {
  if (descriptor >= 0 && descriptor < kMaxDescriptors) tracked[descriptor].store(0);
}

// Counts a call; true when this one is to fail (errno is then set).
bool Fails(Kind kind) {
  const long number = ++counts[kind];
  if (settings.trace) {
    char line[64];
    const int length = snprintf(line, sizeof line, "[fault shim] %s #%ld\n", kKindNames[kind], number);
    Real<ssize_t (*)(int, const void*, size_t)>("write")(2, line, static_cast<size_t>(length));
  }
  if (settings.kind != kind || number != settings.at) return false;
  errno = settings.error;
  return true;
}

int FindDirty(const struct stat& file) {
  for (int i = 0; i < dirtyCount; ++i) {
    if (dirty[i].device == file.st_dev && dirty[i].inode == file.st_ino) return i;
  }
  return -1;
}

// Remembers that the file behind `descriptor` holds data not yet flushed.
void MarkWritten(int descriptor) {
  struct stat file {};
  if (fstat(descriptor, &file) != 0 || !S_ISREG(file.st_mode)) return;
  pthread_mutex_lock(&dirtyLock);
  const int at = FindDirty(file);
  if (at >= 0) {
    dirty[at].flushed = false;
  } else if (dirtyCount < kMaxDirty) {
    dirty[dirtyCount++] = Dirty{file.st_dev, file.st_ino, 0, false};
  }
  pthread_mutex_unlock(&dirtyLock);
}

void MarkFlushed(int descriptor) {
  struct stat file {};
  if (fstat(descriptor, &file) != 0) return;
  pthread_mutex_lock(&dirtyLock);
  const int at = FindDirty(file);
  if (at >= 0) dirty[at] = Dirty{file.st_dev, file.st_ino, file.st_size, true};
  pthread_mutex_unlock(&dirtyLock);
}

// A power cut: every file in the scope keeps only what was flushed, then the process ends.
void DropUnflushedIn(const char* folder) {
  DIR* listing = opendir(folder);
  if (listing == nullptr) return;
  while (const dirent* entry = readdir(listing)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    char path[PATH_MAX * 2];
    snprintf(path, sizeof path, "%s/%s", folder, entry->d_name);
    struct stat file {};
    if (lstat(path, &file) != 0) continue;
    if (S_ISDIR(file.st_mode)) {
      DropUnflushedIn(path);
    } else if (const int at = FindDirty(file); at >= 0 && !dirty[at].flushed) {
      truncate(path, dirty[at].flushedSize);
    }
  }
  closedir(listing);
}

void CrashAfterRename(long number) {
  if (settings.crashAfterRename == 0 || number != settings.crashAfterRename) return;
  pthread_mutex_lock(&dirtyLock);
  DropUnflushedIn(settings.scope);
  _exit(kCrashExit);
}

bool OpensForWriting(int flags) { return (flags & O_ACCMODE) != O_RDONLY; }

bool OpensToRead(int flags) { return !OpensForWriting(flags) && (flags & (O_CREAT | O_TRUNC)) == 0; }

int OpenCounted(int folder, const char* path, int flags, mode_t mode, int (*open)(int, const char*, int, ...)) {
  const bool ours = InScope(folder, path);
  if (ours && !(settings.skipReads && OpensToRead(flags)) && Fails(kOpen)) return -1;
  const int descriptor = open(folder, path, flags, mode);
  if (ours) Track(descriptor, OpensForWriting(flags));
  return descriptor;
}

mode_t ModeArgument(int flags, va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

int CountedRename(int from, const char* oldPath, int to, const char* newPath, unsigned flags) {
  static const auto renameat2 = Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  const bool ours = InScope(from, oldPath) || InScope(to, newPath);
  if (ours && Fails(kRename)) return -1;
  const int result = renameat2(from, oldPath, to, newPath, flags);
  if (ours && result == 0) CrashAfterRename(counts[kRename].load());
  return result;
}

int RealOpenAt(int folder, const char* path, int flags, ...) {
  static const auto openat = Real<int (*)(int, const char*, int, ...)>("openat");
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = ModeArgument(flags, arguments);
  va_end(arguments);
  return openat(folder, path, flags, mode);
}

int TemporaryCounted(char* pattern, int (*make)(char*)) {
  const bool ours = InScope(AT_FDCWD, pattern);
  if (ours && Fails(kOpen)) return -1;
  const int descriptor = make(pattern);
  if (ours) Track(descriptor, true);
  return descriptor;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = ModeArgument(flags, arguments);
  va_end(arguments);
  return OpenCounted(AT_FDCWD, path, flags, mode, RealOpenAt);
}
int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = ModeArgument(flags, arguments);
  va_end(arguments);
  return OpenCounted(AT_FDCWD, path, flags, mode, RealOpenAt);
}
int openat(int folder, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = ModeArgument(flags, arguments);
  va_end(arguments);
  return OpenCounted(folder, path, flags, mode, RealOpenAt);
}
int openat64(int folder, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = ModeArgument(flags, arguments);
  va_end(arguments);
  return OpenCounted(folder, path, flags, mode, RealOpenAt);
}
int __open_2(const char* path, int flags) { return OpenCounted(AT_FDCWD, path, flags, 0, RealOpenAt); }
int __open64_2(const char* path, int flags) { return OpenCounted(AT_FDCWD, path, flags, 0, RealOpenAt); }
int creat(const char* path, mode_t mode) {
  return OpenCounted(AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode, RealOpenAt);
}
int creat64(const char* path, mode_t mode) { return creat(path, mode); }

int mkstemp(char* pattern) {
  static const auto make = Real<int (*)(char*)>("mkstemp");
  return TemporaryCounted(pattern, make);
}
int mkstemp64(char* pattern) { return mkstemp(pattern); }
int mkostemp(char* pattern, int flags) {
  static const auto make = Real<int (*)(char*, int)>("mkostemp");
  const bool ours = InScope(AT_FDCWD, pattern);
  if (ours && Fails(kOpen)) return -1;
  const int descriptor = make(pattern, flags);
  if (ours) Track(descriptor, true);
  return descriptor;
}

FILE* fopen(const char* path, const char* mode) {
  static const auto real = Real<FILE* (*)(const char*, const char*)>("fopen");
  const bool ours = InScope(AT_FDCWD, path);
  if (ours && !(settings.skipReads && strpbrk(mode, "wa+") == nullptr) && Fails(kOpen)) return nullptr;
  FILE* file = real(path, mode);
  if (ours && file != nullptr) Track(fileno(file), strpbrk(mode, "wa+") != nullptr);
  return file;
}
FILE* fopen64(const char* path, const char* mode) { return fopen(path, mode); }

ssize_t write(int descriptor, const void* data, size_t size) {
  static const auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
  if (!Ours(descriptor)) return real(descriptor, data, size);
  if (Fails(kWrite)) return -1;
  const ssize_t written = real(descriptor, data, size);
  if (written > 0) MarkWritten(descriptor);
  return written;
}
ssize_t writev(int descriptor, const struct iovec* pieces, int count) {
  static const auto real = Real<ssize_t (*)(int, const struct iovec*, int)>("writev");
  if (!Ours(descriptor)) return real(descriptor, pieces, count);
  if (Fails(kWrite)) return -1;
  const ssize_t written = real(descriptor, pieces, count);
  if (written > 0) MarkWritten(descriptor);
  return written;
}
ssize_t pwrite(int descriptor, const void* data, size_t size, off_t at) {
  static const auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  if (!Ours(descriptor)) return real(descriptor, data, size, at);
  if (Fails(kPwrite)) return -1;
  const ssize_t written = real(descriptor, data, size, at);
  if (written > 0) MarkWritten(descriptor);
  return written;
}
ssize_t pwrite64(int descriptor, const void* data, size_t size, off_t at) { return pwrite(descriptor, data, size, at); }

size_t fwrite(const void* data, size_t size, size_t count, FILE* file) {
  static const auto real = Real<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
  if (file == nullptr || !Ours(fileno(file))) return real(data, size, count, file);
  if (Fails(kWrite)) return 0;
  const size_t written = real(data, size, count, file);
  if (written > 0) MarkWritten(fileno(file));
  return written;
}
int fputs(const char* text, FILE* file) {
  static const auto real = Real<int (*)(const char*, FILE*)>("fputs");
  if (file == nullptr || !Ours(fileno(file))) return real(text, file);
  if (Fails(kWrite)) return EOF;
  MarkWritten(fileno(file));
  return real(text, file);
}
int fputc(int character, FILE* file) {
  static const auto real = Real<int (*)(int, FILE*)>("fputc");
  if (file == nullptr || !Ours(fileno(file))) return real(character, file);
  if (Fails(kWrite)) return EOF;
  MarkWritten(fileno(file));
  return real(character, file);
}
int fflush(FILE* file) {
  static const auto real = Real<int (*)(FILE*)>("fflush");
  if (file == nullptr || !Ours(fileno(file))) return real(file);
  if (Fails(kWrite)) return EOF;
  return real(file);
}

int fsync(int descriptor) {
  static const auto real = Real<int (*)(int)>("fsync");
  if (!Ours(descriptor)) return real(descriptor);
  if (Fails(kFsync)) return -1;
  const int result = real(descriptor);
  if (result == 0) MarkFlushed(descriptor);
  return result;
}
int fdatasync(int descriptor) {
  static const auto real = Real<int (*)(int)>("fdatasync");
  if (!Ours(descriptor)) return real(descriptor);
  if (Fails(kFsync)) return -1;
  const int result = real(descriptor);
  if (result == 0) MarkFlushed(descriptor);
  return result;
}

int close(int descriptor) {
  static const auto real = Real<int (*)(int)>("close");
  const bool writing = descriptor >= 0 && descriptor < kMaxDescriptors && tracked[descriptor].load() == 2;
  Untrack(descriptor);
  const int result = real(descriptor);
  if (writing && Fails(kClose)) return -1;  // the descriptor is gone all the same, as on Linux
  return result;
}
int fclose(FILE* file) {
  static const auto real = Real<int (*)(FILE*)>("fclose");
  if (file == nullptr) return real(file);
  const int descriptor = fileno(file);
  const bool writing = descriptor >= 0 && descriptor < kMaxDescriptors && tracked[descriptor].load() == 2;
  Untrack(descriptor);
  const int result = real(file);
  if (writing && Fails(kClose)) return EOF;
  return result;
}

int rename(const char* oldPath, const char* newPath) { return CountedRename(AT_FDCWD, oldPath, AT_FDCWD, newPath, 0); }
int renameat(int from, const char* oldPath, int to, const char* newPath) {
  return CountedRename(from, oldPath, to, newPath, 0);
}
int renameat2(int from, const char* oldPath, int to, const char* newPath, unsigned flags) {
  return CountedRename(from, oldPath, to, newPath, flags);
}

}  // extern "C"
