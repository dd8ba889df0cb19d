#include "tests/target/target_app_fixture.h"

#include "platform/file_url.h"

TargetAppTest::TargetAppTest() {
  MakeDirectoriesOrDie(AppsFolder());
  MakeDirectoriesOrDie(UserAppsFolder());
  MakeDirectoriesOrDie(SandboxFolder());
  MakeDirectoriesOrDie(temp_.path() + "/tmp");
  registry_ = CreateApplicationRegistry({AppsFolder(), UserAppsFolder(), SandboxFolder()});
  environment_.registry = registry_.get();
  environment_.launcher = &launcher_;
  environment_.temporaryFolder = temp_.path() + "/tmp/";
  environment_.applicationSupportFolder = temp_.path() + "/Library/Application Support";
  environment_.sandboxPrefix = SandboxFolder() + "/";
  // Absent unless a test writes it; an absent file counts as macOS 11.
  environment_.systemVersionPlist = temp_.path() + "/SystemVersion.plist";
}

std::string TargetAppTest::Install(const std::string& folder, const std::string& name,
                                   const FakeInstallation& app) {
  return WriteInstallation(folder + "/" + name, app);
}

std::string TargetAppTest::UrlOf(const std::string& bundlePath) {
  return FileUrlStringFromPath(bundlePath, true);
}
