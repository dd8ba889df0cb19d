#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#include "platform/durable_file.h"
#include "platform/regular_file.h"

namespace {

// Below this a direct write saves less than it costs to set up.
constexpr size_t kMinDirectBytes = 64 * 1024;

}  // namespace

bool WriteDurably(int fd, std::string_view bytes) {
  const size_t whole = bytes.size() - bytes.size() % kDirectWriteAlignment;
  if (whole >= kMinDirectBytes &&
      reinterpret_cast<uintptr_t>(bytes.data()) % kDirectWriteAlignment == 0) {
    const int flags = fcntl(fd, F_GETFL);
    // A file system without direct writes refuses the flag or the writes;
    // what they did not write goes through the page cache below.
    if (flags >= 0 && fcntl(fd, F_SETFL, flags | O_DIRECT) == 0) {
      WriteAllBytes(fd, bytes.substr(0, whole));
      if (fcntl(fd, F_SETFL, flags) != 0) return false;
    }
  }
  const off_t written = lseek(fd, 0, SEEK_CUR);
  if (written < 0 || static_cast<uintmax_t>(written) > bytes.size()) return false;
  return WriteAllBytes(fd, bytes.substr(static_cast<size_t>(written))) && fsync(fd) == 0;
}
