#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/launcher.h"
#include "platform/shell.h"
#include "platform/spawn_settings_posix.h"

extern char** environ;

namespace {

constexpr char kShellPath[] = "/bin/sh";
constexpr int kPipeSize = 1024 * 1024;
constexpr size_t kFirstBlockSize = 64 * 1024;
constexpr size_t kMaxBlockSize = 8 * 1024 * 1024;
// Room for a caller to put a short phrase before the output (the log line
// that shows it) without moving it to a bigger buffer.
constexpr size_t kSpareCapacity = 256;

// Closes a descriptor once.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Skiff runs without standard input and output, so the pipe may be handed
// descriptor 0, 1 or 2; the child's redirections must not land on its own
// ends. Moves such a descriptor above 2, keeping close-on-exec.
bool MoveAboveStandardDescriptors(Descriptor& descriptor) {
  if (descriptor.get() > 2) return true;
  const int moved = fcntl(descriptor.get(), F_DUPFD_CLOEXEC, 3);
  if (moved < 0) return false;
  descriptor.Reset(moved);
  return true;
}

// A command printing megabytes would otherwise hand them over 64 KiB at a
// time, one switch between it and us for each. A pipe that stays narrow (the
// system's limit is lower) works all the same.
void WidenPipe(int fd) {
#ifdef F_SETPIPE_SZ
  fcntl(fd, F_SETPIPE_SZ, kPipeSize);
#else
  (void)fd;
#endif
}

[[noreturn]] void ThrowStartFailure(const std::string& step, int error) {
  throw PlatformException("Unable to start " + std::string(kShellPath) + " (" + step +
                          "): " + std::strerror(error));
}

class PosixShell : public Shell {
 public:
  ShellResult Run(const std::string& commandLine) override {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) ThrowStartFailure("pipe", errno);
    Descriptor readEnd(ends[0]);
    Descriptor writeEnd(ends[1]);
    if (!MoveAboveStandardDescriptors(readEnd) || !MoveAboveStandardDescriptors(writeEnd))
      ThrowStartFailure("pipe", errno);
    WidenPipe(writeEnd.get());

    SpawnSettings settings;
    int error = settings.Prepare(/*newSession=*/false, writeEnd.get());
    const char* argv[] = {kShellPath, "-c", commandLine.c_str(), nullptr};
    pid_t pid = -1;
    // glibc reports a failed exec in the child as the error of posix_spawn.
    if (error == 0)
      error = posix_spawn(&pid, kShellPath, settings.actions(), settings.attributes(),
                          const_cast<char* const*>(argv), environ);
    if (error != 0) ThrowStartFailure("spawn", error);
    // Only the child may hold the writing end, or end of file never comes.
    writeEnd.Close();

    ShellResult result;
    ReadToEnd(readEnd.get(), &result.output);
    // A command still writing after a read error gets SIGPIPE instead of
    // blocking the wait below.
    readEnd.Close();
    result.status = WaitForStatus(pid);
    return result;
  }

 private:
  // Reads into blocks that double in size up to kMaxBlockSize, then joins
  // them into `output`, reserved once for the whole and released block by
  // block as they are copied: the output is never held twice, and a growing
  // string would hold it twice at every reallocation.
  static void ReadToEnd(int fd, std::string* output) {
    struct Block {
      std::unique_ptr<char[]> bytes;
      size_t capacity;
      size_t used;
    };
    std::vector<Block> blocks;
    size_t total = 0;
    size_t nextCapacity = kFirstBlockSize;
    for (;;) {
      if (blocks.empty() || blocks.back().used == blocks.back().capacity) {
        // Not value-initialised: pages the reads never reach are never touched.
        blocks.push_back({std::unique_ptr<char[]>(new char[nextCapacity]), nextCapacity, 0});
        nextCapacity = std::min(nextCapacity * 2, kMaxBlockSize);
      }
      Block& block = blocks.back();
      const ssize_t count = read(fd, block.bytes.get() + block.used, block.capacity - block.used);
      if (count > 0) {
        block.used += static_cast<size_t>(count);
        total += static_cast<size_t>(count);
      } else if (count == 0 || errno != EINTR) {
        break;
      }
    }
    output->clear();
    output->reserve(total + kSpareCapacity);
    for (Block& block : blocks) {
      output->append(block.bytes.get(), block.used);
      block.bytes.reset();
    }
  }

  // The exit status, 128 + the signal for a killed command, and -1 when the
  // child cannot be waited for (someone else reaped it): never 0 unless the
  // command exited with 0.
  static int WaitForStatus(pid_t pid) {
    int status = 0;
    pid_t waited;
    do {
      waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited != pid) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
  }
};

}  // namespace

std::unique_ptr<Shell> CreateShell() { return std::make_unique<PosixShell>(); }
