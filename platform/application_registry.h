// The system's registry of applications and the document types they handle.
#ifndef SKIFF_PLATFORM_APPLICATION_REGISTRY_H_
#define SKIFF_PLATFORM_APPLICATION_REGISTRY_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class ApplicationSearchCache;

class ApplicationRegistry {
 public:
  virtual ~ApplicationRegistry() = default;

  // Absolute file URL strings of every application registered in the editor
  // role for the type of the file at `fileUrl`, in an order that stays the same
  // within a call. False stands for the platform's null answer.
  virtual bool CopyEditorApplicationURLs(const std::string& fileUrl,
                                         std::vector<std::string>* urls) = 0;
};

// The folders applications are registered from: "/Applications",
// "/System/Applications", "/Network/Applications", "~/Applications" and
// "/Library/InstallerSandboxes".
std::vector<std::string> DefaultApplicationFolders();

// How much of a tree one search looks at. Every directory entry read takes
// one from the budget of the tree it lies in: the folders of one application
// folder outside bundles share one budget, and each bundle has its own for
// the places inside it that are searched. A tree whose budget is used up is
// left unfinished without hiding what lies in the others.
struct ApplicationSearchLimits {
  size_t entriesPerFolder = 1000000;
  size_t entriesPerBundle = 100000;
};

// What searches learn, kept in `file` between runs ("" for nowhere) and
// shared by the registry and the bundles (platform/bundles.h). The file must
// lie in a folder only this user can write to, else nothing is kept.
std::shared_ptr<ApplicationSearchCache> CreateApplicationSearchCache(std::string file);

// A registry built by searching `folders` in order (see
// application_bundle_walker_posix.h for what is searched). What a search
// learns is kept in `cache` (when not null) for the next one, as the platform
// keeps its registry database.
std::unique_ptr<ApplicationRegistry> CreateApplicationRegistry(
    std::vector<std::string> folders, ApplicationSearchLimits limits = ApplicationSearchLimits(),
    ApplicationSearchCache* cache = nullptr);

#endif  // SKIFF_PLATFORM_APPLICATION_REGISTRY_H_
