// Runs a program and writes its user and system processor seconds and its wall seconds to a file,
// "USER SYSTEM WALL", to the microsecond: what /usr/bin/time tells to the hundredth only, which is
// a tenth of a player's whole start-up.
//
// Usage: process_times OUT_FILE PROGRAM [ARGUMENT ...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace {

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: process_times OUT_FILE PROGRAM [ARGUMENT ...]\n");
    return 2;
  }
  const auto started = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("process_times: fork");
    return 1;
  }
  if (child == 0) {
    ::execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  while (::wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("process_times: wait4");
      return 1;
    }
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(out, "%.6f %.6f %.6f\n", Seconds(usage.ru_utime), Seconds(usage.ru_stime), wall);
  std::fclose(out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
