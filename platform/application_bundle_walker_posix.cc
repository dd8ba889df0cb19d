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

#include "platform/scoped_descriptor.h"

namespace {

bool HasSuffix(const std::string& name, const char* suffix) {
  const size_t length = std::strlen(suffix);
  return name.size() > length && name.compare(name.size() - length, length, suffix) == 0;
}

bool IsApplication(const std::string& name) { return HasSuffix(name, ".app"); }

// Lists the folder at `path` below `root`, not through a link, with at most
// `limit` entries. True when the listing is whole.
bool ListFolder(int root, const char* path, size_t limit, std::vector<char>* buffer,
                FolderListing* listing) {
  const ScopedDescriptor folder(
      openat(root, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  if (folder.get() < 0) return false;
  // Entries are read with getdents64: a directory stream would cost three
  // more system calls for each of the many small folders.
  for (;;) {
    const ssize_t length = getdents64(folder.get(), buffer->data(), buffer->size());
    if (length < 0) return false;
    if (length == 0) return true;
    for (ssize_t offset = 0; offset < length;) {
      if (listing->entries == limit) return false;
      const auto* entry = reinterpret_cast<const dirent64*>(buffer->data() + offset);
      offset += entry->d_reclen;
      const size_t position = listing->entries++;
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      struct stat status;
      if (entry->d_type == DT_DIR ||
          (entry->d_type == DT_UNKNOWN &&
           fstatat(folder.get(), name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(status.st_mode)))
        listing->subfolders.emplace_back(position, name);
    }
  }
}

class BundleSearch {
 public:
  BundleSearch(const ApplicationSearchLimits& limits, ApplicationSearchCache* cache)
      : limits_(limits), cache_(cache) {}

  // Walks the folders below `root` that are not bundles, then searches every
  // bundle found, and those found in them.
  void SearchFolderTree(const std::string& root) {
    // The application folder itself may be a link, as it may on the platform.
    // Everything below is looked up from it, which spares walking its path
    // again for every folder.
    root_ = root;
    rootFolder_.Reset(open(root.empty() ? "/" : root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (rootFolder_.get() < 0) return;
    size_t budget = limits_.entriesPerFolder;
    std::vector<std::string> pending{root};
    while (!pending.empty() && budget > 0) {
      const std::string path = std::move(pending.back());
      pending.pop_back();
      for (std::string& name : Subfolders(path, &budget)) {
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
  // Names of the real directories in the folder at `path`, not links to them.
  // Every entry read takes one from `*budget`; reading stops when none is
  // left. Only names read from a folder are descended into, so a link is never
  // followed below the application folder, and a kept listing is used only
  // while its folder is unchanged.
  std::vector<std::string> Subfolders(const std::string& path, size_t* budget) {
    // `path` is the root or lies below it.
    const char* relative = path.size() == root_.size() ? "." : path.c_str() + root_.size() + 1;
    struct stat status;
    if (*budget == 0 || fstatat(rootFolder_.get(), relative, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(status.st_mode))
      return {};
    const std::string& key = path.empty() ? "/" : path;
    const ApplicationSearchCache::Stamp stamp = ApplicationSearchCache::StampOf(status);
    if (cache_ != nullptr) {
      if (const KeptFolderListing* kept = cache_->FindFolder(key, stamp))
        return Take(*kept, budget);
    }
    FolderListing fresh;
    if (ListFolder(rootFolder_.get(), relative, *budget, &buffer_, &fresh) && cache_ != nullptr)
      cache_->KeepFolder(key, stamp, fresh);
    return Take(fresh, budget);
  }

  // The names within the budget, which the listing's entries then take from.
  template <typename Listing>
  static std::vector<std::string> Take(const Listing& listing, size_t* budget) {
    std::vector<std::string> names;
    for (const auto& [position, name] : listing.subfolders) {
      if (position < *budget) names.emplace_back(name);
    }
    *budget -= std::min(listing.entries, *budget);
    return names;
  }

  void Found(std::string path) {
    bundles_.push_back(path);
    unsearched_.push_back(std::move(path));
  }

  void SearchBundle(const std::string& bundle) {
    size_t budget = limits_.entriesPerBundle;
    const std::string contents = bundle + "/Contents";
    for (const std::string& name : Subfolders(contents, &budget)) {
      const std::string path = contents + "/" + name;
      if (name == "Applications" || name == "Helpers" || name == "SharedSupport") {
        AddApplicationsIn(path, &budget);
      } else if (name == "Library") {
        for (const std::string& inLibrary : Subfolders(path, &budget)) {
          if (inLibrary == "LoginItems") AddApplicationsIn(path + "/" + inLibrary, &budget);
        }
      } else if (name == "Frameworks") {
        SearchFrameworks(path, &budget);
      }
    }
  }

  // Applications beside the frameworks, at a framework's top and in each of
  // its versions, directly or in the version's Helpers.
  void SearchFrameworks(const std::string& path, size_t* budget) {
    for (const std::string& name : Subfolders(path, budget)) {
      const std::string framework = path + "/" + name;
      if (IsApplication(name)) {
        Found(framework);
      } else if (HasSuffix(name, ".framework")) {
        for (const std::string& inTop : Subfolders(framework, budget)) {
          if (IsApplication(inTop)) {
            Found(framework + "/" + inTop);
          } else if (inTop == "Versions") {
            SearchVersions(framework + "/Versions", budget);
          }
        }
      }
    }
  }

  void SearchVersions(const std::string& path, size_t* budget) {
    for (const std::string& name : Subfolders(path, budget)) {
      const std::string version = path + "/" + name;
      for (const std::string& inVersion : Subfolders(version, budget)) {
        if (IsApplication(inVersion)) {
          Found(version + "/" + inVersion);
        } else if (inVersion == "Helpers") {
          AddApplicationsIn(version + "/Helpers", budget);
        }
      }
    }
  }

  void AddApplicationsIn(const std::string& path, size_t* budget) {
    for (const std::string& name : Subfolders(path, budget)) {
      if (IsApplication(name)) Found(path + "/" + name);
    }
  }

  const ApplicationSearchLimits limits_;
  ApplicationSearchCache* const cache_;
  std::string root_;
  ScopedDescriptor rootFolder_;
  std::vector<char> buffer_ = std::vector<char>(32 * 1024);
  std::vector<std::string> bundles_;
  std::vector<std::string> unsearched_;
};

}  // namespace

std::string ApplicationFolderRoot(const std::string& folder) {
  const size_t last = folder.find_last_not_of('/');
  return last == std::string::npos ? std::string() : folder.substr(0, last + 1);
}

std::vector<std::string> FindApplicationBundles(const std::string& folder,
                                                const ApplicationSearchLimits& limits,
                                                ApplicationSearchCache* cache) {
  if (folder.empty()) return {};
  BundleSearch search(limits, cache);
  search.SearchFolderTree(ApplicationFolderRoot(folder));
  return search.TakeSorted();
}
