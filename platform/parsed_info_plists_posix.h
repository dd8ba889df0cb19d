// Info.plist files parsed once per process and shared while unchanged: the
// operations open the same bundle several times in one call.
#ifndef SKIFF_PLATFORM_PARSED_INFO_PLISTS_POSIX_H_
#define SKIFF_PLATFORM_PARSED_INFO_PLISTS_POSIX_H_

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/application_search_cache_posix.h"
#include "platform/property_list.h"

class ParsedInfoPlists {
 public:
  // The dictionary of the Info.plist at `path` as the file is now; an empty
  // dictionary when it cannot be read or holds something else.
  std::shared_ptr<const PlistValue> Read(const std::string& path);

 private:
  std::unordered_map<std::string,
                     std::pair<ApplicationSearchCache::Stamp, std::shared_ptr<const PlistValue>>>
      files_;
};

#endif  // SKIFF_PLATFORM_PARSED_INFO_PLISTS_POSIX_H_
