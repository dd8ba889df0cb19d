// An application bundle on disk: its Info.plist, identifier and executable.
#ifndef SKIFF_PLATFORM_BUNDLE_H_
#define SKIFF_PLATFORM_BUNDLE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/bundles.h"
#include "platform/property_list.h"

class ParsedInfoPlists;

class Bundle : public BundleReader {
 public:
  // Null when `path` is not a directory. The Info.plist is read here or, when
  // `cache` holds the identifier for the file as it is, at the first question
  // beyond the identifier; through `parsed` (when not null) it is parsed once
  // for every bundle opened there. A bundle without a readable one has an
  // empty info dictionary.
  static std::unique_ptr<Bundle> Open(const std::string& path,
                                      ApplicationSearchCache* cache = nullptr,
                                      ParsedInfoPlists* parsed = nullptr);

  const std::string& path() const { return path_; }
  // "CFBundleIdentifier" when it is a string, else empty.
  std::string bundleIdentifier() const override;
  // A value of the Info.plist, or null when absent.
  const PlistValue* ObjectForKey(const std::string& key) const override;
  // path + "/Contents/MacOS/" + "CFBundleExecutable"; empty when the key is
  // missing or not a string.
  std::string executablePath() const override;
  // Processor types of the main executable, in the order its header lists
  // them; empty when it cannot be read.
  std::vector<uint32_t> executableArchitectures() const override;

 private:
  Bundle(std::string path, ParsedInfoPlists* parsed);
  std::string InfoPlistPath() const;
  const PlistValue& info() const;

  std::string path_;
  ParsedInfoPlists* parsed_;
  std::optional<std::string> identifier_;
  mutable std::shared_ptr<const PlistValue> info_;
};

// Processor types named by an executable's header: Mach-O thin (32/64-bit,
// either byte order), universal (32/64-bit offsets) or ELF. Garbage or
// truncated headers give an empty list.
std::vector<uint32_t> ReadExecutableArchitectures(const std::string& path);

#endif  // SKIFF_PLATFORM_BUNDLE_H_
