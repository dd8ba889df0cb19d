#include <sys/stat.h>

#include <memory>
#include <string>

#include "platform/property_list.h"
#include "platform/property_list_files.h"

namespace {

class PosixPropertyListFiles : public PropertyListFiles {
 public:
  bool HasFile(const std::string& path) override {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
  }

  bool Read(const std::string& path, PlistValue* out) override {
    return ReadPropertyListFile(path, out);
  }
};

}  // namespace

std::unique_ptr<PropertyListFiles> CreatePropertyListFiles() {
  return std::make_unique<PosixPropertyListFiles>();
}
