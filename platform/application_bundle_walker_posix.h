// Finding application bundles on disk by walking a folder tree.
#ifndef SKIFF_PLATFORM_APPLICATION_BUNDLE_WALKER_POSIX_H_
#define SKIFF_PLATFORM_APPLICATION_BUNDLE_WALKER_POSIX_H_

#include <string>
#include <vector>

#include "platform/application_registry.h"
#include "platform/application_search_cache_posix.h"

// `folder` without its trailing slashes: the start of the paths found below
// it ("/" becomes "", so that joined paths keep a single slash).
std::string ApplicationFolderRoot(const std::string& folder);

// Paths of the application bundles (directories named "*.app") below
// `folder`, sorted in byte order. Symbolic links are never followed and
// unreadable folders are skipped. Folders that are not bundles are walked
// through; inside a bundle only the places where applications nest are
// searched, for bundles at their top: Contents/Applications,
// Contents/Helpers, Contents/SharedSupport, Contents/Library/LoginItems,
// Contents/Frameworks, and in each framework there its top, every
// Versions/<name>/ and Versions/<name>/Helpers. Bundles found there are
// searched in the same way. Listings kept in `cache` (when not null) stand
// for the folders they describe while these are unchanged.
std::vector<std::string> FindApplicationBundles(const std::string& folder,
                                                const ApplicationSearchLimits& limits,
                                                ApplicationSearchCache* cache = nullptr);

#endif  // SKIFF_PLATFORM_APPLICATION_BUNDLE_WALKER_POSIX_H_
