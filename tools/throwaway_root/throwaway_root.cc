#include "tools/throwaway_root/throwaway_root.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tools/throwaway_root/child_plan.h"
#include "tools/throwaway_root/root_layout.h"

namespace throwaway_root {
namespace {

// Closes what it holds when the scope ends, however it ends.
class Descriptors {
 public:
  ~Descriptors() {
    for (int& fd : fds_) Close(&fd);
  }
  int& operator[](size_t index) { return fds_[index]; }
  static void Close(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  int Take(size_t index) {
    const int fd = fds_[index];
    fds_[index] = -1;
    return fd;
  }

 private:
  int fds_[7] = {-1, -1, -1, -1, -1, -1, -1};
};

enum : size_t {
  kErrorRead,
  kErrorWrite,
  kOutputRead,
  kOutputWrite,
  kErrorOutputRead,
  kErrorOutputWrite,
  kNullInput,
};

void MakePipe(Descriptors* fds, size_t readIndex, size_t writeIndex) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0)
    throw ThrowawayRootError(std::string("pipe: ") + strerror(errno));
  (*fds)[readIndex] = ends[0];
  (*fds)[writeIndex] = ends[1];
}

// Reads the child's FailureRecord; false when the pipe closed without one,
// which means the exec succeeded.
bool ReadFailure(int fd, FailureRecord* record) {
  char* next = reinterpret_cast<char*>(record);
  size_t left = sizeof(*record);
  while (left > 0) {
    const ssize_t count = read(fd, next, left);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    next += count;
    left -= static_cast<size_t>(count);
  }
  return true;
}

}  // namespace

RunningCommand Start(const RootCommand& command) {
  const RootLayout layout = PrepareRootLayout(command.root);
  const ChildPlan plan(layout, command);

  Descriptors fds;
  MakePipe(&fds, kErrorRead, kErrorWrite);
  if (command.captureOutput) {
    MakePipe(&fds, kOutputRead, kOutputWrite);
    MakePipe(&fds, kErrorOutputRead, kErrorOutputWrite);
  }
  if (!command.inheritStdin) {
    fds[kNullInput] = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fds[kNullInput] < 0) throw ThrowawayRootError(std::string("/dev/null: ") + strerror(errno));
  }
  ChildDescriptors child;
  child.error = fds[kErrorWrite];
  child.input = fds[kNullInput];
  child.output = fds[kOutputWrite];
  child.errorOutput = fds[kErrorOutputWrite];

  const pid_t pid = fork();
  if (pid < 0) throw ThrowawayRootError(std::string("fork: ") + strerror(errno));
  if (pid == 0) plan.Execute(child);

  // Also from this side, so the group exists before we might signal it.
  if (command.ownProcessGroup) setpgid(pid, pid);
  for (size_t index : {kErrorWrite, kOutputWrite, kErrorOutputWrite, kNullInput}) {
    Descriptors::Close(&fds[index]);
  }
  FailureRecord failure;
  if (ReadFailure(fds[kErrorRead], &failure)) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    throw ThrowawayRootError(plan.DescribeFailure(failure));
  }
  return RunningCommand(pid, fds.Take(kOutputRead), fds.Take(kErrorOutputRead),
                        command.ownProcessGroup);
}

CommandOutcome Run(const RootCommand& command, std::chrono::milliseconds timeout) {
  return Start(command).Wait(timeout);
}

}  // namespace throwaway_root
