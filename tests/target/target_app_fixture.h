// A machine in a temporary folder: application folders walked by the real
// registry, an installer sandbox, Application Support, a log and a recording
// launcher.
#ifndef SKIFF_TESTS_TARGET_TARGET_APP_FIXTURE_H_
#define SKIFF_TESTS_TARGET_TARGET_APP_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/application_registry.h"
#include "target/target_app.h"
#include "tests/support/recording_log.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/target/fake_installation.h"
#include "tests/target/fake_launcher.h"

class TargetAppTest : public ::testing::Test {
 protected:
  TargetAppTest();

  // Walked by the registry in this order.
  std::string AppsFolder() const { return temp_.path() + "/Applications"; }
  std::string UserAppsFolder() const { return temp_.path() + "/Users/me/Applications"; }
  std::string SandboxFolder() const { return temp_.path() + "/Library/InstallerSandboxes"; }

  std::string ProbePath() const { return environment_.temporaryFolder + kProbeFileName; }
  std::string SupportFolder() const { return environment_.applicationSupportFolder; }

  // Writes an installation into `folder` and returns its bundle path.
  std::string Install(const std::string& folder, const std::string& name,
                      const FakeInstallation& app = FakeInstallation());
  // The URL string the registry reports for a bundle.
  static std::string UrlOf(const std::string& bundlePath);

  // A fresh object over the current environment (the class is stateless).
  TargetApp App() { return TargetApp(log_, environment_); }

  ScopedTempDir temp_;
  std::unique_ptr<ApplicationRegistry> registry_;
  FakeLauncher launcher_;
  RecordingLog log_;
  TargetAppEnvironment environment_;
};

#endif  // SKIFF_TESTS_TARGET_TARGET_APP_FIXTURE_H_
