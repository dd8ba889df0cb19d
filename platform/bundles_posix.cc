#include <memory>
#include <string>

#include "platform/bundle.h"
#include "platform/bundles.h"
#include "platform/parsed_info_plists_posix.h"

namespace {

class PosixBundles : public Bundles {
 public:
  explicit PosixBundles(ApplicationSearchCache* cache) : cache_(cache) {}
  std::unique_ptr<BundleReader> Open(const std::string& path) override {
    return Bundle::Open(path, cache_, &parsed_);
  }

 private:
  ApplicationSearchCache* const cache_;
  ParsedInfoPlists parsed_;
};

}  // namespace

std::unique_ptr<Bundles> CreateBundles(ApplicationSearchCache* cache) {
  return std::make_unique<PosixBundles>(cache);
}
