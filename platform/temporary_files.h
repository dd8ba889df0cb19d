// The user's temporary folder and the files made in it, such as the probe file
// the application registry is asked about.
#ifndef SKIFF_PLATFORM_TEMPORARY_FILES_H_
#define SKIFF_PLATFORM_TEMPORARY_FILES_H_

#include <memory>
#include <string>

class TemporaryFiles {
 public:
  // Keeps the folder locked while it lives.
  class Lock {
   public:
    virtual ~Lock() = default;
  };

  virtual ~TemporaryFiles() = default;

  // The folder with a trailing slash; "" when there is none.
  virtual std::string Folder() = 0;
  // Waits until this process holds the folder against the others of the user.
  // Null, with `error` saying why, when it cannot be locked.
  virtual std::unique_ptr<Lock> LockFolder(std::string* error) = 0;
  // Makes sure a regular file stands at `path`. An existing one is taken as it
  // is; anything else there is replaced, without being followed, by an empty
  // file.
  virtual bool EnsureFile(const std::string& path) = 0;
  // False, with `error` saying why, when the file cannot be removed.
  virtual bool RemoveFile(const std::string& path, std::string* error) = 0;
};

// Over `folder` (platform/folders.h TemporaryFolder()), locked with a
// FolderLock.
std::unique_ptr<TemporaryFiles> CreateTemporaryFiles(std::string folder);

#endif  // SKIFF_PLATFORM_TEMPORARY_FILES_H_
