#include <memory>
#include <string>
#include <utility>

#include "platform/property_list.h"
#include "platform/system_version.h"

bool IsSystemAtLeastMacOS11(const std::string& plistPath) {
  // Without a readable version the answer is the one of any current system.
  PlistValue info;
  if (!ReadPropertyListFile(plistPath, &info)) return true;
  const PlistValue* version = info.Find("ProductVersion");
  if (version == nullptr || !version->IsString()) return true;
  const std::string major = version->string.substr(0, version->string.find('.'));
  if (major.empty() || major.size() > 9 ||
      major.find_first_not_of("0123456789") != std::string::npos)
    return true;
  return std::stoi(major) >= 11;
}

namespace {

class PosixSystemVersion : public SystemVersion {
 public:
  explicit PosixSystemVersion(std::string plistPath) : plistPath_(std::move(plistPath)) {}

  bool IsAtLeastMacOS11() override { return IsSystemAtLeastMacOS11(plistPath_); }

 private:
  std::string plistPath_;
};

}  // namespace

std::unique_ptr<SystemVersion> CreateSystemVersion(std::string plistPath) {
  return std::make_unique<PosixSystemVersion>(std::move(plistPath));
}
