#include <memory>
#include <string>

#include "platform/bundle.h"
#include "platform/bundles.h"

namespace {

class PosixBundles : public Bundles {
 public:
  std::unique_ptr<BundleReader> Open(const std::string& path) override {
    return Bundle::Open(path);
  }
};

}  // namespace

std::unique_ptr<Bundles> CreateBundles() { return std::make_unique<PosixBundles>(); }
