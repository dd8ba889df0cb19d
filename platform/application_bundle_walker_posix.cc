#include "platform/application_bundle_walker_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

bool HasSuffix(const std::string& name, const char* suffix) {
  const size_t length = std::strlen(suffix);
  return name.size() > length && name.compare(name.size() - length, length, suffix) == 0;
}

bool IsApplication(const std::string& name) { return HasSuffix(name, ".app"); }

// A directory opened as itself: a symbolic link in its place is not followed.
// Entries are read with getdents64 into a caller's buffer: a directory stream
// would cost three more system calls for each of the many small folders.
class Folder {
 public:
  Folder(int parent, const std::string& name, bool followLink = false)
      : fd_(parent < 0 && parent != AT_FDCWD
                ? -1
                : openat(parent, name.c_str(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW))) {}
  Folder(const Folder& parent, const std::string& name) : Folder(parent.fd_, name) {}
  ~Folder() {
    if (fd_ >= 0) close(fd_);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Names of the real directories in the folder, not links to them. Every
  // entry read takes one from `*budget`; reading stops when none is left.
  std::vector<std::string> Subfolders(std::vector<char>* buffer, size_t* budget) const {
    std::vector<std::string> names;
    if (fd_ < 0) return names;
    while (*budget > 0) {
      const ssize_t length = getdents64(fd_, buffer->data(), buffer->size());
      if (length <= 0) break;
      ssize_t offset = 0;
      while (*budget > 0 && offset < length) {
        const auto* entry = reinterpret_cast<const dirent64*>(buffer->data() + offset);
        offset += entry->d_reclen;
        --*budget;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        struct stat status;
        if (entry->d_type == DT_DIR ||
            (entry->d_type == DT_UNKNOWN && fstatat(fd_, name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
             S_ISDIR(status.st_mode)))
          names.emplace_back(name);
      }
    }
    return names;
  }

 private:
  int fd_;
};

class BundleSearch {
 public:
  explicit BundleSearch(const ApplicationSearchLimits& limits) : limits_(limits) {}

  // Walks the folders below `root` that are not bundles, then searches every
  // bundle found, and those found in them.
  void SearchFolderTree(const std::string& root) {
    size_t budget = limits_.entriesPerFolder;
    std::vector<std::string> pending{root};
    while (!pending.empty() && budget > 0) {
      const std::string path = std::move(pending.back());
      pending.pop_back();
      // The application folder itself may be a link, as it may on the platform.
      const Folder folder(AT_FDCWD, path.empty() ? "/" : path, path == root);
      for (std::string& name : folder.Subfolders(&buffer_, &budget)) {
        std::string child = path + "/" + name;
        if (IsApplication(name)) {
          Found(std::move(child));
        } else {
          pending.push_back(std::move(child));
        }
      }
    }
    while (!unsearched_.empty()) {
      const std::string bundle = std::move(unsearched_.back());
      unsearched_.pop_back();
      SearchBundle(bundle);
    }
  }

  std::vector<std::string> TakeSorted() {
    std::sort(bundles_.begin(), bundles_.end());
    return std::move(bundles_);
  }

 private:
  void Found(std::string path) {
    bundles_.push_back(path);
    unsearched_.push_back(std::move(path));
  }

  void SearchBundle(const std::string& bundle) {
    size_t budget = limits_.entriesPerBundle;
    const std::string path = bundle + "/Contents";
    const Folder contents(AT_FDCWD, path);
    // Opening the few places costs less than listing Contents.
    for (const char* place : {"Applications", "Helpers", "SharedSupport"})
      AddApplicationsIn(Folder(contents, place), path + "/" + place, &budget);
    AddApplicationsIn(Folder(Folder(contents, "Library"), "LoginItems"),
                      path + "/Library/LoginItems", &budget);
    SearchFrameworks(Folder(contents, "Frameworks"), path + "/Frameworks", &budget);
  }

  // Applications beside the frameworks, at a framework's top and in each of
  // its versions, directly or in the version's Helpers.
  void SearchFrameworks(const Folder& frameworks, const std::string& path, size_t* budget) {
    for (const std::string& name : frameworks.Subfolders(&buffer_, budget)) {
      const std::string framework = path + "/" + name;
      if (IsApplication(name)) {
        Found(framework);
      } else if (HasSuffix(name, ".framework")) {
        const Folder top(frameworks, name);
        for (const std::string& inTop : top.Subfolders(&buffer_, budget)) {
          if (IsApplication(inTop)) {
            Found(framework + "/" + inTop);
          } else if (inTop == "Versions") {
            SearchVersions(Folder(top, inTop), framework + "/Versions", budget);
          }
        }
      }
    }
  }

  void SearchVersions(const Folder& versions, const std::string& path, size_t* budget) {
    for (const std::string& name : versions.Subfolders(&buffer_, budget)) {
      const Folder version(versions, name);
      const std::string versionPath = path + "/" + name;
      for (const std::string& inVersion : version.Subfolders(&buffer_, budget)) {
        if (IsApplication(inVersion)) {
          Found(versionPath + "/" + inVersion);
        } else if (inVersion == "Helpers") {
          AddApplicationsIn(Folder(version, inVersion), versionPath + "/Helpers", budget);
        }
      }
    }
  }

  void AddApplicationsIn(const Folder& folder, const std::string& path, size_t* budget) {
    for (const std::string& name : folder.Subfolders(&buffer_, budget)) {
      if (IsApplication(name)) Found(path + "/" + name);
    }
  }

  const ApplicationSearchLimits limits_;
  std::vector<char> buffer_ = std::vector<char>(32 * 1024);
  std::vector<std::string> bundles_;
  std::vector<std::string> unsearched_;
};

}  // namespace

std::vector<std::string> FindApplicationBundles(const std::string& folder,
                                                const ApplicationSearchLimits& limits) {
  if (folder.empty()) return {};
  const size_t last = folder.find_last_not_of('/');
  // "/" becomes "" so that joined paths keep a single slash.
  const std::string root = last == std::string::npos ? std::string() : folder.substr(0, last + 1);
  BundleSearch search(limits);
  search.SearchFolderTree(root);
  return search.TakeSorted();
}
