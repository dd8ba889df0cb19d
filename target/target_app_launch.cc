// Launching the chosen installation: directly with the upgrade argument for a
// single-client installation during an upsell, otherwise through the desktop.
#include "log/log_sink.h"
#include "platform/file_url.h"
#include "platform/launcher.h"
#include "target/target_app.h"

namespace {

constexpr char kUpgradeArgument[] = "/z";

}  // namespace

bool TargetApp::launchTargetApp(const LaunchOperationParams& params) {
  const std::string& bundleId = params.bundleInfo;
  if (bundleId.empty()) return false;
  std::optional<std::string> url = getAppURLForLaunch(bundleId);
  if (!url) return false;

  std::string path;
  bool haveUrl = PathFromFileUrlString(*url, &path);
  std::string track = getInstalledAppTrack(url);

  bool withUpgrade = false;
  if (params.workflow == "upsell" && !track.empty()) {
    log_.Log("Received workfow as " + params.workflow + ".");
    // All three tests run, whatever the first ones answer.
    bool sca = isSCAApp(path);
    bool singleClient = isSingleClientApp(track);
    bool foliInstalled = isSCFoliAppInstalled(track);
    withUpgrade = sca && singleClient && !foliInstalled;
  }
  if (!haveUrl) return false;

  log_.Log("Launching target app");
  log_.Log("NSURL found for launch: " + *url);
  bool launched = false;
  bool openThroughDesktop = true;
  if (withUpgrade) {
    log_.Log("App will be launched with upgrade parameter.");
    std::unique_ptr<BundleReader> bundle = environment_.bundles->Open(path);
    std::string executable = bundle != nullptr ? bundle->executablePath() : std::string();
    if (!executable.empty()) {
      try {
        pid_t pid = environment_.launcher->StartProcess(executable, {kUpgradeArgument});
        launched = pid != -1;
        openThroughDesktop = false;
      } catch (const PlatformException&) {
        // Falls back to the ordinary opening below.
      }
    }
    if (openThroughDesktop) {
      log_.Log(
          "Some error occured while launching app with upgrade param, Will try to launch App "
          "without upgrade parameter.");
    }
  }
  if (openThroughDesktop) {
    log_.Log("App will be launched without upgrade parameter.");
    launched = environment_.launcher->OpenApplication(path);
  }
  log_.Log("Launched target app");
  return launched;
}
