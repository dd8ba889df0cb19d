// Application bundles opened by path: what the target operations read of one.
#ifndef SKIFF_PLATFORM_BUNDLES_H_
#define SKIFF_PLATFORM_BUNDLES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/property_list.h"

// Processor type numbers as the platform reports them.
constexpr uint32_t kBundleExecutableArchitectureI386 = 0x00000007;
constexpr uint32_t kBundleExecutableArchitectureX86_64 = 0x01000007;
constexpr uint32_t kBundleExecutableArchitectureARM64 = 0x0100000c;

class BundleReader {
 public:
  virtual ~BundleReader() = default;

  // "CFBundleIdentifier" when it is a string, else empty.
  virtual std::string bundleIdentifier() const = 0;
  // A value of the Info.plist, or null when absent.
  virtual const PlistValue* ObjectForKey(const std::string& key) const = 0;
  // The full path of the main executable; empty when the bundle names none.
  virtual std::string executablePath() const = 0;
  // Processor types of the main executable, in the order its header lists
  // them; empty when it cannot be read.
  virtual std::vector<uint32_t> executableArchitectures() const = 0;
};

class Bundles {
 public:
  virtual ~Bundles() = default;

  // The bundle at `path`, or null when there is none.
  virtual std::unique_ptr<BundleReader> Open(const std::string& path) = 0;
};

class ApplicationSearchCache;

// Bundles on disk (platform/bundle.h); an identifier kept in `cache` (when not
// null) for an unchanged Info.plist spares parsing it until more is asked.
std::unique_ptr<Bundles> CreateBundles(ApplicationSearchCache* cache = nullptr);

#endif  // SKIFF_PLATFORM_BUNDLES_H_
