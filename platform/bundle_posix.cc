#include <sys/stat.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/bundle.h"
#include "platform/property_list.h"

namespace {

// The bundle's own path without trailing slashes, so that joined paths do not
// double them ("/" stays as it is).
std::string WithoutTrailingSlashes(const std::string& path) {
  const size_t last = path.find_last_not_of('/');
  return last == std::string::npos ? path.substr(0, 1) : path.substr(0, last + 1);
}

}  // namespace

Bundle::Bundle(std::string path, PlistValue info)
    : path_(std::move(path)), info_(std::move(info)) {}

std::unique_ptr<Bundle> Bundle::Open(const std::string& path) {
  struct stat status;
  if (path.empty() || stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return nullptr;
  std::string bundlePath = WithoutTrailingSlashes(path);
  PlistValue info;
  const std::string prefix = bundlePath == "/" ? "" : bundlePath;
  if (!ReadPropertyListFile(prefix + "/Contents/Info.plist", &info) ||
      info.kind != PlistValue::Kind::kDictionary) {
    info = PlistValue();
    info.kind = PlistValue::Kind::kDictionary;
  }
  return std::unique_ptr<Bundle>(new Bundle(std::move(bundlePath), std::move(info)));
}

std::string Bundle::bundleIdentifier() const {
  const PlistValue* value = ObjectForKey("CFBundleIdentifier");
  return value != nullptr && value->IsString() ? value->string : std::string();
}

const PlistValue* Bundle::ObjectForKey(const std::string& key) const { return info_.Find(key); }

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
