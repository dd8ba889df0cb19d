#include "target/target_app.h"

#include <memory>
#include <utility>

#include "log/installer_log.h"
#include "platform/folders.h"

TargetApp::TargetApp(LogSink& log, TargetAppEnvironment environment)
    : log_(log), environment_(std::move(environment)) {}

TargetApp& TargetApp::GetInstance() {
  // Created before the instance, so they outlive it at process exit.
  static const std::string temporaryFolder = TemporaryFolder();
  static const std::shared_ptr<ApplicationSearchCache> searchCache = CreateApplicationSearchCache(
      temporaryFolder.empty() ? std::string() : temporaryFolder + "ApplicationSearch.cache");
  static const std::unique_ptr<ApplicationRegistry> registry = CreateApplicationRegistry(
      DefaultApplicationFolders(), ApplicationSearchLimits(), searchCache.get());
  static const std::unique_ptr<Bundles> bundles = CreateBundles(searchCache.get());
  static const std::unique_ptr<PropertyListFiles> propertyLists = CreatePropertyListFiles();
  static const std::unique_ptr<SystemVersion> systemVersion = CreateSystemVersion();
  static const std::unique_ptr<TemporaryFiles> temporaryFiles =
      CreateTemporaryFiles(temporaryFolder);
  static const std::unique_ptr<Launcher> launcher = CreateLauncher();
  static const std::unique_ptr<Shell> shell = CreateShell();
  static TargetApp instance(InstallerLog::GetInstance(), [] {
    TargetAppEnvironment environment;
    environment.registry = registry.get();
    environment.bundles = bundles.get();
    environment.propertyLists = propertyLists.get();
    environment.systemVersion = systemVersion.get();
    environment.temporaryFiles = temporaryFiles.get();
    environment.launcher = launcher.get();
    environment.shell = shell.get();
    environment.applicationSupportFolder = LocalApplicationSupportFolder();
    return environment;
  }());
  return instance;
}
