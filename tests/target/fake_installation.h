// Writes stand-in installations of the product, and the files around them,
// for the target tests.
#ifndef SKIFF_TESTS_TARGET_FAKE_INSTALLATION_H_
#define SKIFF_TESTS_TARGET_FAKE_INSTALLATION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/bundle.h"

// The executable's name inside Contents/MacOS.
constexpr char kFakeExecutableName[] = "Folian";

struct FakeInstallation {
  std::string identifier = "com.orvane.Folian.Pro";
  std::optional<std::string> track = "Evergreen";  // "TrackName"
  std::optional<std::string> version = "23.008.20470";
  std::optional<bool> foliSca;
  bool hasExecutableKey = true;  // "CFBundleExecutable"
  std::vector<uint32_t> architectures = {kBundleExecutableArchitectureX86_64};
};

// Writes the bundle, registered as a PDF editor, at `bundlePath`; returns it.
std::string WriteInstallation(const std::string& bundlePath, const FakeInstallation& app);

// A thin Mach-O file for one processor type, a universal one for several.
void WriteExecutable(const std::string& path, const std::vector<uint32_t>& architectures);

// The per-track installer preference file; an absent flag is left out.
void WriteInstallerPreferences(const std::string& applicationSupportFolder,
                               const std::string& track, std::optional<bool> singleClient,
                               std::optional<bool> foliInstalled);

void WriteSystemVersion(const std::string& path, const std::string& productVersion);

#endif  // SKIFF_TESTS_TARGET_FAKE_INSTALLATION_H_
