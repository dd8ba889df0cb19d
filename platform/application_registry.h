// The system's registry of applications and the document types they handle.
#ifndef SKIFF_PLATFORM_APPLICATION_REGISTRY_H_
#define SKIFF_PLATFORM_APPLICATION_REGISTRY_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/application_bundle_walker.h"

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

// A registry built by searching `folders` in order (see
// application_bundle_walker.h for what is searched and how far).
std::unique_ptr<ApplicationRegistry> CreateApplicationRegistry(
    std::vector<std::string> folders, ApplicationSearchLimits limits = ApplicationSearchLimits());

#endif  // SKIFF_PLATFORM_APPLICATION_REGISTRY_H_
