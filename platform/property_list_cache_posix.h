// Property lists parsed from files, kept in memory for the rest of the
// process: the registry parses the Info.plist of every editor it lists, and
// the bundles opened from that list then find them parsed.
#ifndef SKIFF_PLATFORM_PROPERTY_LIST_CACHE_POSIX_H_
#define SKIFF_PLATFORM_PROPERTY_LIST_CACHE_POSIX_H_

#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/property_list.h"

// Beyond these, further values are parsed but not kept.
struct PropertyListCacheLimits {
  size_t entries = 4096;
  // Estimated from the strings and values the kept lists are made of.
  size_t bytes = 64 * 1024 * 1024;
};

class PropertyListFileCache {
 public:
  explicit PropertyListFileCache(PropertyListCacheLimits limits = PropertyListCacheLimits());

  // The cache the registry and the bundles share.
  static PropertyListFileCache& Shared();

  // The property list in the regular file at `path` (ReadPropertyListFile's
  // rules), or null when there is none or `worthParsing`, shown the bytes
  // first, turns them down. A kept value is given only while the file keeps
  // the device, inode, size, modification and change times it had when it was
  // read; and a value is kept only when the file's change time lay a clock
  // step behind the clock before it was read, so that no later change can
  // leave those times as they were.
  std::shared_ptr<const PlistValue> Read(
      const std::string& path,
      const std::function<bool(const std::string&)>& worthParsing = nullptr);

 private:
  struct Entry {
    struct stat status;
    std::shared_ptr<const PlistValue> value;
    size_t bytes;
  };

  // Takes the entry of a file read anew: the old one goes, and the new one
  // stays when it fits the limits.
  void Keep(const std::string& path, Entry entry);

  const PropertyListCacheLimits limits_;
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;
  size_t bytes_ = 0;
};

#endif  // SKIFF_PLATFORM_PROPERTY_LIST_CACHE_POSIX_H_
