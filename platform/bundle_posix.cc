#include <sys/stat.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/application_search_cache_posix.h"
#include "platform/bundle.h"
#include "platform/parsed_info_plists_posix.h"
#include "platform/property_list.h"

namespace {

// The bundle's own path without trailing slashes, so that joined paths do not
// double them ("/" stays as it is).
std::string WithoutTrailingSlashes(const std::string& path) {
  const size_t last = path.find_last_not_of('/');
  return last == std::string::npos ? path.substr(0, 1) : path.substr(0, last + 1);
}

}  // namespace

Bundle::Bundle(std::string path, ParsedInfoPlists* parsed)
    : path_(std::move(path)), parsed_(parsed) {}

std::unique_ptr<Bundle> Bundle::Open(const std::string& path, ApplicationSearchCache* cache,
                                     ParsedInfoPlists* parsed) {
  if (path.empty()) return nullptr;
  std::unique_ptr<Bundle> bundle(new Bundle(WithoutTrailingSlashes(path), parsed));
  const std::string infoPlist = bundle->InfoPlistPath();
  // The search that named the bundle has just found its folder and checked
  // its Info.plist.
  InfoFacts facts;
  const bool checked = cache != nullptr && cache->FindCheckedInfo(infoPlist, &facts);
  struct stat status;
  if (!checked && (stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))) return nullptr;
  if ((checked || (cache != nullptr && stat(infoPlist.c_str(), &status) == 0 &&
                   cache->FindInfo(infoPlist, ApplicationSearchCache::StampOf(status), &facts))) &&
      facts.identified) {
    bundle->identifier_ = std::move(facts.identifier);
  } else {
    bundle->info();
  }
  return bundle;
}

std::string Bundle::InfoPlistPath() const {
  return (path_ == "/" ? "" : path_) + "/Contents/Info.plist";
}

const PlistValue& Bundle::info() const {
  if (!info_) {
    ParsedInfoPlists once;
    info_ = (parsed_ != nullptr ? parsed_ : &once)->Read(InfoPlistPath());
  }
  return *info_;
}

std::string Bundle::bundleIdentifier() const {
  if (identifier_) return *identifier_;
  const PlistValue* value = ObjectForKey("CFBundleIdentifier");
  return value != nullptr && value->IsString() ? value->string : std::string();
}

const PlistValue* Bundle::ObjectForKey(const std::string& key) const { return info().Find(key); }

std::string Bundle::executablePath() const {
  const PlistValue* name = ObjectForKey("CFBundleExecutable");
  if (name == nullptr || !name->IsString() || name->string.empty()) return std::string();
  return (path_ == "/" ? "" : path_) + "/Contents/MacOS/" + name->string;
}

std::vector<uint32_t> Bundle::executableArchitectures() const {
  const std::string executable = executablePath();
  if (executable.empty()) return {};
  return ReadExecutableArchitectures(executable);
}
