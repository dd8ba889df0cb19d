#include "platform/parsed_info_plists_posix.h"

#include <sys/stat.h>

std::shared_ptr<const PlistValue> ParsedInfoPlists::Read(const std::string& path) {
  // Stamped before it is read: a change made meanwhile shows at the next use.
  struct stat status;
  const bool stamped = stat(path.c_str(), &status) == 0;
  const ApplicationSearchCache::Stamp stamp =
      stamped ? ApplicationSearchCache::StampOf(status) : ApplicationSearchCache::Stamp();
  const auto found = files_.find(path);
  if (stamped && found != files_.end() && found->second.first == stamp) return found->second.second;
  auto info = std::make_shared<PlistValue>();
  if (!ReadPropertyListFile(path, info.get()) || info->kind != PlistValue::Kind::kDictionary) {
    *info = PlistValue();
    info->kind = PlistValue::Kind::kDictionary;
  }
  if (stamped) files_[path] = {stamp, info};
  return info;
}
