#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/folders.h"

std::string LocalLibraryFolder() { return "/Library"; }

std::string LocalApplicationSupportFolder() { return "/Library/Application Support"; }

std::string TemporaryFolder() {
  const char* value = std::getenv("TMPDIR");
  if (value == nullptr || *value == '\0') return "/tmp/";
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
