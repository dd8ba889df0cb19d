#include "platform/regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/scoped_descriptor.h"

namespace {

// Reads into `buffer` from `used` on until it is full or the file ends.
bool ReadInto(int fd, std::string* buffer, size_t* used) {
  while (*used < buffer->size()) {
    const ssize_t got = read(fd, &(*buffer)[*used], buffer->size() - *used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    *used += static_cast<size_t>(got);
  }
  return true;
}

// Opens `path` without blocking on a FIFO or device and keeps the descriptor
// only for a regular file, whose status is left in `*info`. Reads of a
// regular file never wait, whatever its O_NONBLOCK flag says.
int OpenRegularFile(const std::string& path, struct stat* info) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  if (fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int OpenRegularFileForReading(const std::string& path) {
  struct stat info;
  const int fd = OpenRegularFile(path, &info);
  if (fd < 0) return -1;
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool ReadRegularFile(const std::string& path, size_t maxBytes, std::string* contents) {
  struct stat info;
  ScopedDescriptor fd(OpenRegularFile(path, &info));
  if (fd.get() < 0 || static_cast<unsigned long long>(info.st_size) > maxBytes) return false;
  // Sized from fstat plus one byte, so a file that grew is noticed without a
  // second pass; it is then read on in doubling steps up to the limit.
  std::string data(static_cast<size_t>(info.st_size) + 1, '\0');
  size_t used = 0;
  for (;;) {
    if (!ReadInto(fd.get(), &data, &used)) return false;
    if (used < data.size()) break;
    if (used > maxBytes) return false;
    data.resize(std::min(data.size() * 2, maxBytes + 1));
  }
  data.resize(used);
  contents->swap(data);
  return true;
}

bool ReadRegularFileHead(const std::string& path, size_t count, std::string* head,
                         unsigned long long* fileSize) {
  struct stat info;
  ScopedDescriptor fd(OpenRegularFile(path, &info));
  if (fd.get() < 0) return false;
  std::string data(count, '\0');
  size_t used = 0;
  if (!ReadInto(fd.get(), &data, &used)) return false;
  data.resize(used);
  head->swap(data);
  *fileSize = static_cast<unsigned long long>(info.st_size);
  return true;
}

bool WriteAllBytes(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}
