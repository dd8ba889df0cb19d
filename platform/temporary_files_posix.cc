#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "platform/folder_lock.h"
#include "platform/temporary_files.h"

namespace {

class HeldFolderLock : public TemporaryFiles::Lock {
 public:
  explicit HeldFolderLock(const std::string& folder) : lock_(folder) {}
  const FolderLock& lock() const { return lock_; }

 private:
  FolderLock lock_;
};

class PosixTemporaryFiles : public TemporaryFiles {
 public:
  explicit PosixTemporaryFiles(std::string folder) : folder_(std::move(folder)) {}

  std::string Folder() override { return folder_; }

  std::unique_ptr<Lock> LockFolder(std::string* error) override {
    auto held = std::make_unique<HeldFolderLock>(folder_);
    if (held->lock().held()) return held;
    *error = held->lock().error();
    return nullptr;
  }

  // The registry would answer nothing for a link, a FIFO or an empty folder,
  // so those are removed without being followed and replaced.
  bool EnsureFile(const std::string& path) override {
    struct stat info;
    if (lstat(path.c_str(), &info) == 0) {
      if (S_ISREG(info.st_mode)) return true;
      if ((S_ISDIR(info.st_mode) ? rmdir(path.c_str()) : unlink(path.c_str())) != 0) return false;
    }
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return errno == EEXIST && lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    return true;
  }

  bool RemoveFile(const std::string& path, std::string* error) override {
    if (unlink(path.c_str()) == 0) return true;
    *error = std::strerror(errno);
    return false;
  }

 private:
  std::string folder_;
};

}  // namespace

std::unique_ptr<TemporaryFiles> CreateTemporaryFiles(std::string folder) {
  return std::make_unique<PosixTemporaryFiles>(std::move(folder));
}
