// An exclusive advisory lock on a folder, which serialises the steps that
// parallel processes take on the folder's entries.
#ifndef SKIFF_PLATFORM_FOLDER_LOCK_H_
#define SKIFF_PLATFORM_FOLDER_LOCK_H_

#include <string>

class FolderLock {
 public:
  // Waits until this process holds the lock on `folder` (a link there is not
  // followed). When the folder cannot be opened or locked, held() is false and
  // error() says why.
  explicit FolderLock(const std::string& folder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  bool held() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

#endif  // SKIFF_PLATFORM_FOLDER_LOCK_H_
