#include "bridge/pipe_path_check.h"

#include <sys/stat.h>

bool CheckPathIsSafe(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return true;
  if (S_ISLNK(info.st_mode)) return false;
  return info.st_nlink < 2;
}

bool DescriptorIsLonePipe(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode) && info.st_nlink == 1;
}

bool IsPlainPipeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}
