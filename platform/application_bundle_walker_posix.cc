#include "platform/application_bundle_walker_posix.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class Place { kOrdinary, kBundle, kBundleContents };

struct PendingFolder {
  std::string path;
  Place place;
};

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t length = std::strlen(suffix);
  return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

bool IsSkippedInsideContents(const char* name) {
  return std::strcmp(name, "Resources") == 0 || std::strcmp(name, "MacOS") == 0 ||
         std::strcmp(name, "_CodeSignature") == 0;
}

// A real directory, not a symbolic link to one.
bool IsDirectoryEntry(const dirent& entry, const std::string& path) {
  if (entry.d_type == DT_DIR) return true;
  if (entry.d_type != DT_UNKNOWN) return false;
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::vector<std::string> FindApplicationBundles(const std::string& folder, size_t* entryBudget) {
  std::vector<std::string> bundles;
  if (folder.empty()) return bundles;
  const size_t last = folder.find_last_not_of('/');
  // "/" becomes "" so that joined paths keep a single slash.
  const std::string root = last == std::string::npos ? std::string() : folder.substr(0, last + 1);

  // An explicit stack keeps deep trees from deepening the call stack.
  std::vector<PendingFolder> pending{{root, Place::kOrdinary}};
  while (!pending.empty() && *entryBudget > 0) {
    const PendingFolder current = std::move(pending.back());
    pending.pop_back();
    DIR* directory = opendir(current.path.empty() ? "/" : current.path.c_str());
    if (directory == nullptr) continue;
    while (*entryBudget > 0) {
      const dirent* entry = readdir(directory);
      if (entry == nullptr) break;
      --*entryBudget;
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      if (current.place == Place::kBundleContents && IsSkippedInsideContents(name)) continue;
      std::string path = current.path + "/" + name;
      if (!IsDirectoryEntry(*entry, path)) continue;
      Place place = Place::kOrdinary;
      if (EndsWith(path, ".app") && std::strlen(name) > 4) {
        bundles.push_back(path);
        place = Place::kBundle;
      } else if (current.place == Place::kBundle && std::strcmp(name, "Contents") == 0) {
        place = Place::kBundleContents;
      }
      pending.push_back({std::move(path), place});
    }
    closedir(directory);
  }
  std::sort(bundles.begin(), bundles.end());
  return bundles;
}
