#include <string>

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
