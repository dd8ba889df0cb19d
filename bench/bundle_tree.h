// Generated trees of application bundles, shaped like a real Applications
// folder, for measuring discovery.
#ifndef SKIFF_BENCH_BUNDLE_TREE_H_
#define SKIFF_BENCH_BUNDLE_TREE_H_

#include <cstddef>
#include <string>
#include <vector>

struct BundleTreeShape {
  size_t bundles = 1000;
  // Files in each bundle's Contents/Resources.
  size_t resourceFiles = 200;
  // Files in the one framework each bundle carries in Contents/Frameworks,
  // split between its Headers and Resources folders.
  size_t frameworkFiles = 50;
  // Every this-many-th bundle declares itself a PDF editor (0: none does).
  size_t editorEvery = 4;
};

// Writes shape.bundles bundles "App<N>.app" into the host folder `folder`
// (created if missing), each with an Info.plist, an executable, a code
// signature, its resources and a framework in the usual versioned layout with
// its symbolic links. Returns the paths of the bundles' Info.plist files as
// seen through `viewPrefix` + the path below `folder`.
std::vector<std::string> WriteBundleTree(const std::string& folder, const BundleTreeShape& shape,
                                         const std::string& viewPrefix);

#endif  // SKIFF_BENCH_BUNDLE_TREE_H_
