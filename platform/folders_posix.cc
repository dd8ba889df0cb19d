#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/folders.h"

std::string LocalLibraryFolder() { return "/Library"; }

std::string LocalApplicationSupportFolder() { return "/Library/Application Support"; }

std::string TemporaryFolder(const std::string& sharedFolder) {
  const char* value = std::getenv("TMPDIR");
  if (value == nullptr || *value == '\0') {
    const uid_t user = geteuid();
    const std::string folder = sharedFolder + "skiff-" + std::to_string(user);
    // The creation mask may take the owner's rights away; the folder is
    // reopened without following a link to set them.
    if (mkdir(folder.c_str(), 0700) == 0) {
      const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const bool modeSet = fd >= 0 && fchmod(fd, 0700) == 0;
      if (fd >= 0) close(fd);
      if (!modeSet) return std::string();
    } else if (errno != EEXIST) {
      return std::string();
    }
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != user ||
        (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
      return std::string();
    return folder + "/";
  }
  std::string folder = value;
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string HomeFolder() {
  const char* value = std::getenv("HOME");
  if (value != nullptr && *value != '\0') return value;
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr)
    return std::string();
  return found->pw_dir;
}
