// Runs one program and records what it cost: skiff-process-measure stands in
// for the program it measures, so that a caller that starts the program
// itself (skiff-host starting skiff) can be pointed at it instead.
//
//   SKIFF_BENCH_TARGET=PROGRAM SKIFF_BENCH_REPORT=FILE skiff-process-measure [ARGUMENT]...
//
// runs PROGRAM with the arguments, waits for it and appends one line
// "<cpu seconds> <wall seconds> <peak resident KiB> <exit status>" to FILE.
// CPU time and peak memory cover the program and the children it waited for.
// Exits as the program did.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

double Seconds(const timeval& value) {
  return static_cast<double>(value.tv_sec) + static_cast<double>(value.tv_usec) / 1e6;
}

}  // namespace

int main(int, char** argv) {
  const char* target = getenv("SKIFF_BENCH_TARGET");
  const char* report = getenv("SKIFF_BENCH_REPORT");
  if (target == nullptr || report == nullptr) {
    fprintf(stderr,
            "skiff-process-measure: SKIFF_BENCH_TARGET and SKIFF_BENCH_REPORT are needed\n");
    return 125;
  }
  argv[0] = const_cast<char*>(target);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int started = posix_spawn(&pid, target, nullptr, nullptr, argv, environ);
  if (started != 0) {
    fprintf(stderr, "skiff-process-measure: cannot start %s: %s\n", target, strerror(started));
    return 125;
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      perror("skiff-process-measure: wait4");
      return 125;
    }
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  FILE* file = fopen(report, "a");
  if (file == nullptr ||
      fprintf(file, "%.6f %.6f %ld %d\n", Seconds(usage.ru_utime) + Seconds(usage.ru_stime),
              wall.count(), usage.ru_maxrss, code) < 0 ||
      fclose(file) != 0) {
    fprintf(stderr, "skiff-process-measure: cannot write %s\n", report);
    return 125;
  }
  return code;
}
