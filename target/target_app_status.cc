// The status report: whether the product is installed, in which version, for
// which processors and on which track, as the host's response document.
#include <algorithm>

#include "log/log_sink.h"
#include "platform/file_url.h"
#include "target/target_app.h"
#include "xml/xml_escape.h"

namespace {

constexpr char kNotInstalledRest[] =
    "<version></version><platform></platform><status><appStatus>not-installed</appStatus>"
    "<installedData><isUninstallable>false</isUninstallable>"
    "<isLaunchable>false</isLaunchable></installedData></status><bundleID></bundleID>"
    "</response>";

// Installation paths and host strings may hold markup characters; escaped with
// the predefined entities they still give a well-formed document that reads
// back to the same text.
std::string Element(const std::string& name, const std::string& value) {
  std::string element = "<" + name + ">";
  AppendXmlEscaped(value, XmlEscaping::kEntities, &element);
  return element + "</" + name + ">";
}

// A boolean of the installer preference file; false unless it is a number.
bool ReadPreferenceFlag(PropertyListFiles& files, const std::optional<std::string>& path,
                        const char* key) {
  if (!path) return false;
  PlistValue preferences;
  if (!files.Read(*path, &preferences)) return false;
  const PlistValue* value = preferences.Find(key);
  return value != nullptr && value->IsNumber() && value->BoolValue();
}

}  // namespace

bool TargetApp::generateAppStatusXml(const AppStatusOperationParams& params,
                                     std::string& response) {
  try {
    response += "<response><sapCode>FLNX</sapCode>";
    bool installed = false;
    std::string mainBundleId = getMainBundleID(params.bundleInfo);
    if (!mainBundleId.empty()) {
      log_.Log("main BundleID for getAppStratus:" + mainBundleId);
      std::optional<std::string> url = getAppURLForLaunch(mainBundleId);
      std::string track;
      if (url) {
        log_.Log("NSURL found for launch: " + *url);
        track = getInstalledAppTrack(url);
      }
      if (!track.empty()) {
        std::vector<std::string> versions = getFFCVersionList(params.bundleInfo);
        std::string appVersion;
        try {
          std::unique_ptr<BundleReader> bundle = OpenBundleAtUrl(*url);
          std::optional<std::string> version;
          if (bundle != nullptr) version = InfoString(*bundle, "CFBundleVersion");
          if (version) {
            log_.Log("Installed app version: " + *version);
            appVersion = *version;
          }
        } catch (...) {
          // An unreadable version leaves a key that is not on the list.
          appVersion.clear();
        }
        std::string ffcVersion = findFFCVersion(versions, appVersion, track);
        std::string path;
        std::string platform;
        if (!ffcVersion.empty()) {
          PathFromFileUrlString(*url, &path);
          log_.Log("App path found: " + path);
          installed = getAppPlatform(path, platform);
        }
        if (installed) {
          log_.Log("Detected target app on machine");
          response += Element("version", ffcVersion) + Element("platform", platform) +
                      "<status><appStatus>installed</appStatus><installedData>";
          if (!params.workflow.empty()) response += Element("workflow", params.workflow);
          if (params.workflow == "upsell") {
            // All three tests run, whatever the first ones answer.
            bool sca = isSCAApp(path);
            bool singleClient = isSingleClientApp(track);
            bool foliInstalled = isSCFoliAppInstalled(track);
            std::string appType = "foli";
            if (sca && singleClient) appType = foliInstalled ? "sca" : "scamini";
            log_.Log("App type found: " + appType);
            response +=
                Element("appPath", path) + Element("appTrack", track) + Element("appType", appType);
          }
          response += track == "Evergreen" ? "<isUninstallable>true</isUninstallable>"
                                           : "<isUninstallable>false</isUninstallable>";
          response += "<isLaunchable>true</isLaunchable></installedData></status>" +
                      Element("bundleID", mainBundleId) + "</response>";
        }
      }
    }
    if (!installed) {
      log_.Log("Not able to detect target app on machine");
      response += kNotInstalledRest;
    }
    log_.Log("Generated output.xml: " + response);
    return true;
  } catch (...) {
    return false;
  }
}

std::string TargetApp::getMainBundleID(const std::string& bundleInfo) {
  try {
    std::string entry = bundleInfo.substr(0, bundleInfo.find(','));
    return entry.substr(0, entry.find('_'));
  } catch (...) {
    return std::string();
  }
}

std::vector<std::string> TargetApp::getFFCVersionList(std::string bundleInfo) {
  std::vector<std::string> versions;
  try {
    // The added comma makes the last entry end like the others. The entries
    // are read in place, front to back: cutting each one off the front would
    // move the rest of a long list every time.
    bundleInfo += ',';
    size_t start = 0;
    size_t comma;
    while ((comma = bundleInfo.find(',', start)) != std::string::npos) {
      std::string entry = bundleInfo.substr(start, comma - start);
      log_.Log("Bundle ID version string passed: " + entry);
      start = comma + 1;
      size_t underscore = entry.find('_');
      if (underscore != std::string::npos) versions.push_back(entry.substr(underscore + 1));
    }
  } catch (...) {
    // Keep what was gathered so far.
  }
  log_.Log("Calculated FFC version list");
  return versions;
}

std::string TargetApp::findFFCVersion(const std::vector<std::string>& list,
                                      const std::string& appVersion, const std::string& track) {
  std::string key = appVersion.substr(0, appVersion.find('.')) + (track == "2041" ? ".1" : ".0");
  if (std::find(list.begin(), list.end(), key) != list.end()) return key;
  return std::string();
}

bool TargetApp::getAppPlatform(const std::string& appPath, std::string& platform) {
  if (appPath.empty()) return false;
  std::unique_ptr<BundleReader> bundle = environment_.bundles->Open(appPath);
  if (bundle == nullptr) {
    platform.clear();
    return false;
  }
  std::vector<uint32_t> architectures = bundle->executableArchitectures();
  bool intel64 = false;
  bool arm64 = false;
  std::optional<bool> atLeastMacOS11;  // asked only when an arm64 slice may count
  for (uint32_t architecture : architectures) {
    if (architecture == kBundleExecutableArchitectureX86_64) {
      log_.Log("Found NSBundleExecutableArchitectureX86_64");
      intel64 = true;
    } else if (architecture == kBundleExecutableArchitectureI386) {
      log_.Log("Found NSBundleExecutableArchitectureI386");
    } else {
      if (!atLeastMacOS11) atLeastMacOS11 = environment_.systemVersion->IsAtLeastMacOS11();
      if (*atLeastMacOS11 && architecture == kBundleExecutableArchitectureARM64) {
        log_.Log("Found NSBundleExecutableArchitectureARM64");
        arm64 = true;
      }
    }
  }
  if (intel64 && arm64) {
    platform = "macuniversal";
  } else if (intel64) {
    platform = "osx10-64";
  } else if (arm64) {
    platform = "macarm64";
  } else {
    platform.clear();
    return false;
  }
  return true;
}

bool TargetApp::isSCAApp(const std::string& appPath) {
  std::unique_ptr<BundleReader> bundle = environment_.bundles->Open(appPath);
  if (bundle == nullptr) return false;
  const PlistValue* value = bundle->ObjectForKey("FoliSCA");
  return value != nullptr && value->IsNumber() && value->BoolValue();
}

std::optional<std::string> TargetApp::getSCAInstallerPlistPath(
    const std::optional<std::string>& track) {
  if (!track) return std::nullopt;
  std::string folder = environment_.applicationSupportFolder;
  if (folder.empty()) return std::nullopt;
  // Joined as path components: no doubled separator after the folder.
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder != "/") folder += '/';
  std::string path = folder + "Orvane/Folian/" + *track +
                     "/SupportFiles/Preferences/com.orvane.folian.scainstaller.plist";
  if (!environment_.propertyLists->HasFile(path)) return std::nullopt;
  return path;
}

bool TargetApp::isSingleClientApp(const std::string& track) {
  return ReadPreferenceFlag(*environment_.propertyLists, getSCAInstallerPlistPath(track),
                            "bIsSingleClientApp");
}

bool TargetApp::isSCFoliAppInstalled(const std::string& track) {
  return ReadPreferenceFlag(*environment_.propertyLists, getSCAInstallerPlistPath(track),
                            "bIsSCFoliAppInstalled");
}
