// The contents of the files that make up a stand-in installation of the
// product and the documents around it, as the end-to-end tests write them.
#ifndef SKIFF_TESTS_SUPPORT_PRODUCT_FILES_H_
#define SKIFF_TESTS_SUPPORT_PRODUCT_FILES_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Whether CFBundleDocumentTypes registers the bundle as a PDF editor.
enum class PdfRole { kEditor, kNone };

struct ProductInstallation {
  // Inside the root; Contents/Info.plist and Contents/MacOS/ go below it.
  std::string bundlePath = "/Applications/Orvane Folian.app";
  std::string identifier = "com.orvane.Folian.Pro";     // CFBundleIdentifier
  std::optional<std::string> track = "Evergreen";       // TrackName
  std::optional<std::string> version = "23.008.20470";  // CFBundleVersion
  std::optional<bool> foliSca;                          // FoliSCA
  std::string executableName = "Folian";                // CFBundleExecutable
  PdfRole pdfRole = PdfRole::kEditor;
};

// An XML property list whose top dictionary holds `entries`.
std::string PlistDocument(const std::string& entries);
std::string InfoPlist(const ProductInstallation& installation);

// <request><bundleInfo>…</bundleInfo>[<workflow>…</workflow>]</request>
std::string RequestDocument(const std::string& bundleInfo,
                            const std::optional<std::string>& workflow);
// <Deployment><Properties><Property name="…">…</Property>…</Properties></Deployment>
std::string DeploymentDocument(const std::vector<std::pair<std::string, std::string>>& properties);
// The install proxy document naming the package file.
std::string InstallProxyDocument(const std::string& packageName);
// The uninstall proxy document: the installation folder template (normally
// "[OrvaneProgramFiles]/…") and the remover tool path template (normally
// "[INSTALLDIR]/…").
std::string UninstallProxyDocument(const std::string& platform, const std::string& removerPath);

#endif  // SKIFF_TESTS_SUPPORT_PRODUCT_FILES_H_
