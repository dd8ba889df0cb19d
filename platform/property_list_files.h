// Property-list files read by path, such as the installer preference file.
#ifndef SKIFF_PLATFORM_PROPERTY_LIST_FILES_H_
#define SKIFF_PLATFORM_PROPERTY_LIST_FILES_H_

#include <memory>
#include <string>

#include "platform/property_list.h"

class PropertyListFiles {
 public:
  virtual ~PropertyListFiles() = default;

  // True when something other than a folder stands at `path`, links followed.
  virtual bool HasFile(const std::string& path) = 0;
  // The property list in the file, in either format. False, leaving `out`
  // unchanged, for a missing, unreadable, oversized or malformed file.
  virtual bool Read(const std::string& path, PlistValue* out) = 0;
};

// Files on disk (platform/property_list.h).
std::unique_ptr<PropertyListFiles> CreatePropertyListFiles();

#endif  // SKIFF_PLATFORM_PROPERTY_LIST_FILES_H_
