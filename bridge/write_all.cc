#include "bridge/write_all.h"

#include <unistd.h>

#include <cerrno>
#include <thread>

int WriteAll(int fd, const char* bytes, size_t count, uint32_t attempts,
             std::chrono::microseconds pause) {
  if (count == 0) return kWriteAllDone;
  size_t written = 0;
  uint32_t attempt = 0;
  while (attempt < attempts) {
    const ssize_t result = write(fd, bytes + written, count - written);
    // A signal is no sign of a full pipe: try again without using up an
    // attempt.
    if (result < 0 && errno == EINTR) continue;
    ++attempt;
    if (result == 0 || (result < 0 && errno != EAGAIN)) return kWriteAllFailed;
    if (result > 0) {
      written += static_cast<size_t>(result);
      if (written == count) return kWriteAllDone;
    }
    std::this_thread::sleep_for(pause);
  }
  return kWriteAllTimedOut;
}
