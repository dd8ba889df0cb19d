// Finding application bundles on disk by walking a folder tree.
#ifndef SKIFF_PLATFORM_APPLICATION_BUNDLE_WALKER_POSIX_H_
#define SKIFF_PLATFORM_APPLICATION_BUNDLE_WALKER_POSIX_H_

#include <cstddef>
#include <string>
#include <vector>

// Paths of the directories named "*.app" below `folder`, sorted in byte order.
// Symbolic links are never followed; bundles are walked into, because products
// nest helper applications, except for their Contents/Resources, Contents/MacOS
// and Contents/_CodeSignature folders. Unreadable folders are skipped. Each
// directory entry looked at takes one from `*entryBudget`; the walk ends early
// when none is left.
std::vector<std::string> FindApplicationBundles(const std::string& folder, size_t* entryBudget);

#endif  // SKIFF_PLATFORM_APPLICATION_BUNDLE_WALKER_POSIX_H_
