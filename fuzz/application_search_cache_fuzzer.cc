// Reads arbitrary records as the file an application search keeps, sealed
// with the checksum it must carry so that the records themselves are read.
// Nothing may abort or crash, and a kept listing must name only positions
// among its entries.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

#include "platform/application_search_cache_posix.h"

namespace {

// A folder of this process's own, as the cache reads only such folders.
class PrivateFolder {
 public:
  PrivateFolder() {
    char name[] = "/tmp/skiff-fuzz-cache-XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    path_ = name;
  }
  ~PrivateFolder() {
    unlink(file().c_str());
    rmdir(path_.c_str());
  }
  std::string file() const { return path_ + "/kept"; }

 private:
  std::string path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const PrivateFolder folder;
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const std::string text =
      std::string(body) + "end " + std::to_string(std::hash<std::string_view>()(body)) + "\n";
  const int fd = open(folder.file().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      close(fd) != 0)
    std::abort();
  ApplicationSearchCache cache(folder.file(), [] { return std::time_t(0); });
  cache.Load();
  const ApplicationSearchCache::Stamp stamp{1, 2, 3, 4, 5};
  if (const KeptFolderListing* listing = cache.FindFolder("/a", stamp)) {
    for (const auto& subfolder : listing->subfolders) {
      if (subfolder.first >= listing->entries) std::abort();
    }
  }
  InfoFacts facts;
  cache.FindInfo("/a/Info.plist", stamp, &facts);
  return 0;
}
