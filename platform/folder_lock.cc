#include "platform/folder_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

FolderLock::FolderLock(const std::string& folder) {
  // A trailing slash would make open() follow a link at the folder's name.
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return;
  }
  int result;
  do {
    result = flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    error_ = std::strerror(errno);
    close(fd);
    return;
  }
  fd_ = fd;
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) close(fd_);
}
