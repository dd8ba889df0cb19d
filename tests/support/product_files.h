// The contents of the files that make up a stand-in installation of the
// product and the documents around it, as the end-to-end tests write them.
#ifndef SKIFF_TESTS_SUPPORT_PRODUCT_FILES_H_
#define SKIFF_TESTS_SUPPORT_PRODUCT_FILES_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

// The main executable of an installation.
enum class ProductExecutable {
  kX86_64,     // thin Mach-O header for x86-64
  kArm64,      // thin Mach-O header for arm64
  kUniversal,  // universal Mach-O with an x86-64 and an arm64 slice
  kI386,       // thin Mach-O header for i386
  kRunnable,   // a copy of fake_product: runs and records its arguments; an
               // x86-64 ELF file, so also reported as x86-64
  kMissing,    // no file at all
};

// How the bundle declares PDF documents in CFBundleDocumentTypes.
enum class PdfRole {
  kEditor,  // extension "pdf", role Editor: registered as a PDF editor
  kViewer,  // extension "pdf", role Viewer: not an editor
  kNone,    // no CFBundleDocumentTypes at all
};

struct ProductInstallation {
  // Inside the root; Contents/Info.plist and Contents/MacOS/ go below it.
  std::string bundlePath = "/Applications/Orvane Folian.app";
  std::string identifier = "com.orvane.Folian.Pro";     // CFBundleIdentifier
  std::optional<std::string> track = "Evergreen";       // TrackName
  std::optional<std::string> version = "23.008.20470";  // CFBundleVersion
  std::optional<bool> foliSca;                          // FoliSCA
  // CFBundleExecutable; without it the key is left out.
  std::optional<std::string> executableName = "Folian";
  ProductExecutable executable = ProductExecutable::kX86_64;
  PdfRole pdfRole = PdfRole::kEditor;
  // Raw property-list XML added inside the top <dict>, after the other keys.
  std::string extraPlistEntries;
};

// The XML property list "<?xml ...?><!DOCTYPE plist ...><plist><dict>" +
// entries + "</dict></plist>".
std::string PlistDocument(const std::string& entries);
// "<key>key</key><string>value</string>", the value escaped.
std::string PlistString(const std::string& key, const std::string& value);
// "<key>key</key><true/>" or "<false/>".
std::string PlistBool(const std::string& key, bool value);

std::string InfoPlist(const ProductInstallation& installation);

// The bytes of a Mach-O executable; empty for kRunnable and kMissing.
std::string MachOExecutable(ProductExecutable kind);

// The installer preference file; a flag without a value is left out.
std::string InstallerPreferencesPlist(std::optional<bool> singleClient,
                                      std::optional<bool> foliInstalled);

std::string SystemVersionPlist(const std::string& productVersion);

// "<root><bundleInfo>…</bundleInfo><workflow>…</workflow></root>", the
// workflow element only when given, texts escaped.
std::string RequestDocument(const std::string& bundleInfo,
                            const std::optional<std::string>& workflow,
                            const std::string& rootElement = "request");

// "<Deployment><Properties><Property name="…">…</Property>…</Properties>
// </Deployment>", texts escaped, in the given order.
std::string DeploymentDocument(const std::vector<std::pair<std::string, std::string>>& properties);

// The install proxy document naming the package file.
std::string InstallProxyDocument(const std::string& packageName);
// The uninstall proxy document: the installation folder template (normally
// "[OrvaneProgramFiles]/…") and the remover tool path template (normally
// "[INSTALLDIR]/…").
std::string UninstallProxyDocument(const std::string& platform, const std::string& removerPath);
// The remover tool's path template of a standard installation.
constexpr char kRemoverPathTemplate[] =
    "[INSTALLDIR]/Orvane Folian.app/Contents/Helpers/Folian Uninstaller.app/Contents/Library/"
    "LaunchServices/com.orvane.Folian.RemoverTool";

// &, <, >, " and ' as entity references.
std::string EscapeXml(const std::string& text);

#endif  // SKIFF_TESTS_SUPPORT_PRODUCT_FILES_H_
