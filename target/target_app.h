// The operations on the target product: finding its installations, reporting
// their status and launching one. The object keeps no state between calls.
#ifndef SKIFF_TARGET_TARGET_APP_H_
#define SKIFF_TARGET_TARGET_APP_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "operation/operation_params.h"
#include "platform/application_registry.h"
#include "platform/bundles.h"
#include "platform/launcher.h"
#include "platform/property_list_files.h"
#include "platform/shell.h"
#include "platform/system_version.h"
#include "platform/temporary_files.h"

class LogSink;

// What the target operations take from the machine: every service they use.
struct TargetAppEnvironment {
  ApplicationRegistry* registry = nullptr;
  Bundles* bundles = nullptr;
  PropertyListFiles* propertyLists = nullptr;
  SystemVersion* systemVersion = nullptr;
  TemporaryFiles* temporaryFiles = nullptr;
  Launcher* launcher = nullptr;
  Shell* shell = nullptr;
  std::string applicationSupportFolder;  // the local domain's
  std::string sandboxPrefix = "/Library/InstallerSandboxes/";
};

constexpr char kProbeFileName[] = "TempFileForLangPack.pdf";
// Followed by the package path, already escaped for the shell.
constexpr char kSignatureCheckCommand[] = "/usr/sbin/pkgutil --check-signature ";

class TargetApp {
 public:
  TargetApp(LogSink& log, TargetAppEnvironment environment);

  // The process-wide instance over the machine's registry, folders and log.
  static TargetApp& GetInstance();

  // Discovery and release tracks.
  // False stands for no list.
  bool findFirstApplication(std::vector<std::string>* urls);
  // The chosen installation's URL string; nullopt for none; "" for an empty id.
  std::optional<std::string> getAppURLForLaunch(const std::string& bundleId);
  std::string findAppTrack(const std::string& bundleId);
  bool isEvergreenTrackInstalled(const std::string& bundleId);
  std::string getInstalledAppTrack(const std::optional<std::string>& appUrlString);

  // Status report.
  bool generateAppStatusXml(const AppStatusOperationParams& params, std::string& response);
  std::string getMainBundleID(const std::string& bundleInfo);
  std::vector<std::string> getFFCVersionList(std::string bundleInfo);
  std::string findFFCVersion(const std::vector<std::string>& list, const std::string& appVersion,
                             const std::string& track);
  bool getAppPlatform(const std::string& appPath, std::string& platform);
  bool isSCAApp(const std::string& appPath);
  std::optional<std::string> getSCAInstallerPlistPath(const std::optional<std::string>& track);
  bool isSingleClientApp(const std::string& track);
  bool isSCFoliAppInstalled(const std::string& track);

  // Launch.
  bool launchTargetApp(const LaunchOperationParams& params);

  // Commands and package validation.
  // Replaces `output` with everything the command printed; true for exit 0.
  bool RunShellCommand(std::string commandLine, std::string& output);
  // True when the package utility accepts the package and names the chain.
  bool ValidatePackageSignature(std::string packagePath);

 private:
  // One URL string per known track, in order of preference; "" where no
  // installation of that track matched. The last match of a track wins. Logs
  // each candidate when `logCandidates`. False when there is no usable list.
  bool FillTrackSlots(const std::string& bundleId, bool logCandidates,
                      std::vector<std::string>* slots);
  // The bundle at a file URL string; null when the string is no file URL or no
  // bundle lies there.
  std::unique_ptr<BundleReader> OpenBundleAtUrl(const std::string& urlString);
  // A string value of the bundle's Info.plist; nullopt when absent or of
  // another type.
  static std::optional<std::string> InfoString(const BundleReader& bundle, const std::string& key);

  LogSink& log_;
  TargetAppEnvironment environment_;
};

#endif  // SKIFF_TARGET_TARGET_APP_H_
