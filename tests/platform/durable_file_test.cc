#include "platform/durable_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/scoped_temp_dir.h"

namespace {

bool WriteMap(const char* file, const std::string& line) {
  const int fd = open(file, O_WRONLY | O_CLOEXEC);
  const bool written = fd >= 0 && write(fd, line.data(), line.size()) == ssize_t(line.size());
  if (fd >= 0) close(fd);
  return written;
}

// Whole blocks of an aligned buffer go straight to the disk where the file
// system takes that, and through the page cache where it refuses the flag
// (ramfs, mounted in a namespace of the child's own); an unaligned buffer
// always takes the page cache. The file holds every byte either way.
TEST(DurableFileTest, TheFileHoldsEveryByteHoweverItWasWritten) {
  constexpr size_t kSize = 300000;  // whole blocks and a tail
  constexpr size_t kAllocated = (kSize / kDirectWriteAlignment + 2) * kDirectWriteAlignment;
  std::unique_ptr<char, decltype(&std::free)> buffer(
      static_cast<char*>(std::aligned_alloc(kDirectWriteAlignment, kAllocated)), &std::free);
  for (size_t i = 0; i < kSize + 1; ++i) buffer.get()[i] = static_cast<char>('a' + i % 26);
  for (const bool onRamfs : {false, true}) {
    for (const size_t offset : {size_t{0}, size_t{1}}) {
      ScopedTempDir dir;
      const std::string path = dir.path() + "/file";
      const std::string_view bytes(buffer.get() + offset, kSize);
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
        if (onRamfs && (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
                        !WriteMap("/proc/self/setgroups", "deny") ||
                        !WriteMap("/proc/self/uid_map", "0 " + uid + " 1") ||
                        !WriteMap("/proc/self/gid_map", "0 " + gid + " 1") ||
                        mount("none", dir.path().c_str(), "ramfs", 0, nullptr) != 0))
          _exit(2);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        const bool written = fd >= 0 && WriteDurably(fd, bytes);
        _exit(written && close(fd) == 0 && ReadFileOrDie(path) == bytes ? 0 : 1);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "ramfs " << onRamfs << ", offset " << offset << ", status " << status;
    }
  }
}

}  // namespace
