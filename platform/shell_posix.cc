#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "platform/launcher.h"
#include "platform/scoped_descriptor.h"
#include "platform/shell.h"
#include "platform/spawn_settings_posix.h"
#include "platform/utf8_text.h"

extern char** environ;

namespace {

constexpr char kShellPath[] = "/bin/sh";
constexpr int kPipeSize = 1024 * 1024;
// The room made ready for reads at a time: what a full pipe holds.
constexpr size_t kReadRoom = kPipeSize;
// Bytes copied between releases when the output moves to a bigger buffer.
constexpr size_t kMoveStep = 8 * 1024 * 1024;

// Skiff runs without standard input and output, so the pipe may be handed
// descriptor 0, 1 or 2; the child's redirections must not land on its own
// ends. Moves such a descriptor above 2, keeping close-on-exec.
bool MoveAboveStandardDescriptors(ScopedDescriptor& descriptor) {
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

// Sets aside `bytes` for `output`, or as much below as the system grants:
// address space only, the pages come as the reads reach them.
void ReserveUpTo(std::string* output, size_t bytes) {
  for (;;) {
    try {
      output->reserve(bytes);
      return;
    } catch (const std::bad_alloc&) {
      if (bytes <= kReadRoom) throw;
      bytes /= 2;
    }
  }
}

// Has the system provide the whole pages of [begin, end) in one call rather
// than one fault per page as the room is first written; a system that cannot
// leaves them to the faults.
void Prefault(const char* begin, const char* end) {
#ifdef MADV_POPULATE_WRITE
  const uintptr_t pageMask = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1;
  const uintptr_t first = (reinterpret_cast<uintptr_t>(begin) + pageMask) & ~pageMask;
  const uintptr_t last = reinterpret_cast<uintptr_t>(end) & ~pageMask;
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  (void)begin;
  (void)end;
#endif
}

// Moves `output` to a buffer of `capacity` bytes. A string reallocating by
// itself would hold every byte twice until it frees the old buffer; here each
// step's pages of the old buffer are handed back to the system as soon as
// they are copied, so the output is held once, plus one step.
void MoveToBiggerBuffer(std::string* output, size_t capacity) {
  std::string bigger;
  bigger.reserve(capacity);
  const uintptr_t pageMask = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1;
  const uintptr_t start = reinterpret_cast<uintptr_t>(output->data());
  uintptr_t released = (start + pageMask) & ~pageMask;
  while (bigger.size() < output->size()) {
    bigger.append(output->data() + bigger.size(),
                  std::min(kMoveStep, output->size() - bigger.size()));
    // Only whole pages inside the old buffer, which is freed right after.
    const uintptr_t copied = (start + bigger.size()) & ~pageMask;
    if (copied > released) {
      madvise(reinterpret_cast<void*>(released), copied - released, MADV_DONTNEED);
      released = copied;
    }
  }
  output->swap(bigger);
}

[[noreturn]] void ThrowStartFailure(const std::string& step, int error) {
  throw PlatformException("Unable to start " + std::string(kShellPath) + " (" + step +
                          "): " + std::strerror(error));
}

class PosixShell : public Shell {
 public:
  explicit PosixShell(size_t reservedOutputBytes) : reservedOutputBytes_(reservedOutputBytes) {}

  ShellResult Run(const std::string& commandLine) override {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) ThrowStartFailure("pipe", errno);
    ScopedDescriptor readEnd(ends[0]);
    ScopedDescriptor writeEnd(ends[1]);
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
    result.validUtf8Bytes = ReadToEnd(readEnd.get(), &result.output);
    // A command still writing after a read error gets SIGPIPE instead of
    // blocking the wait below.
    readEnd.Close();
    result.status = WaitForStatus(pid);
    return result;
  }

 private:
  // Reads straight into `output`, whose room was set aside beforehand: the
  // bytes land once, in their final place, and are never joined or moved
  // afterwards unless they outgrow the room. The room is made ready (pages
  // provided, zero-filled as a string's size must be) a pipe's worth ahead
  // of the reads. Each piece is checked for UTF-8 as it arrives, while it is
  // still in the cache, instead of in a second pass over all of the output
  // at the end; returns how far the output is well-formed.
  size_t ReadToEnd(int fd, std::string* output) const {
    output->clear();
    ReserveUpTo(output, reservedOutputBytes_);
    size_t filled = 0;
    size_t valid = 0;
    for (;;) {
      if (filled == output->size()) {
        if (output->size() == output->capacity())
          MoveToBiggerBuffer(output, std::max<size_t>(2 * output->capacity(), kReadRoom));
        const size_t room = std::min(output->capacity(), filled + kReadRoom);
        Prefault(output->data() + filled, output->data() + room);
        output->resize(room);
      }
      const ssize_t count = read(fd, &(*output)[filled], output->size() - filled);
      if (count > 0) {
        filled += static_cast<size_t>(count);
        valid = EndOfValidUtf8(std::string_view(output->data(), filled), valid);
      } else if (count == 0 || errno != EINTR) {
        break;
      }
    }
    output->resize(filled);
    return valid;
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

  const size_t reservedOutputBytes_;
};

}  // namespace

std::unique_ptr<Shell> CreateShell(size_t reservedOutputBytes) {
  return std::make_unique<PosixShell>(reservedOutputBytes);
}
