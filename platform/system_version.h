// The running system's version.
#ifndef SKIFF_PLATFORM_SYSTEM_VERSION_H_
#define SKIFF_PLATFORM_SYSTEM_VERSION_H_

#include <memory>
#include <string>

constexpr char kSystemVersionPlistPath[] = "/System/Library/CoreServices/SystemVersion.plist";

class SystemVersion {
 public:
  virtual ~SystemVersion() = default;

  // The availability test for macOS 11.
  virtual bool IsAtLeastMacOS11() = 0;
};

// Answers from the property list at `plistPath`, read at each question.
std::unique_ptr<SystemVersion> CreateSystemVersion(std::string plistPath = kSystemVersionPlistPath);

// True when "ProductVersion" of the property list at `plistPath` names major
// version 11 or later, or when the file is absent or unreadable.
bool IsSystemAtLeastMacOS11(const std::string& plistPath = kSystemVersionPlistPath);

#endif  // SKIFF_PLATFORM_SYSTEM_VERSION_H_
