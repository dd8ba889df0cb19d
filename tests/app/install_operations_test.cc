#include "app/install_operations.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "target/target_app.h"
#include "tests/support/fake_shell.h"
#include "tests/support/recording_log.h"
#include "tests/support/signature_report_text.h"

namespace {

class InstallOperationsTest : public ::testing::TestWithParam<std::tuple<std::string, bool>> {
 protected:
  InstallOperationsTest() {
    TargetAppEnvironment environment;
    environment.shell = &shell_;
    app_ = std::make_unique<TargetApp>(log_, environment);
    shell_.Answer("installer ", 0, "installed");
  }

  RecordingLog log_;
  FakeShell shell_;
  std::unique_ptr<TargetApp> app_;
  std::string command_;
  std::string output_;
};

// Only a signed package reaches the installer, with its path as the shell
// wrote it and however long.
TEST_P(InstallOperationsTest, InstallsOnlyASignedPackage) {
  const auto& [package, signedPackage] = GetParam();
  shell_.Answer(kSignatureCheckCommand, signedPackage ? 0 : 1,
                signedPackage ? SignatureReportText() : "Status: no signature\n");
  std::vector<std::string> commands = {"/usr/sbin/pkgutil --check-signature " + package};
  if (signedPackage) commands.push_back("installer -pkg " + package + " -tgt /");
  EXPECT_EQ(RunInstall(log_, *app_, command_, output_, InstallOperationParams(package)),
            signedPackage);
  EXPECT_EQ(shell_.commands(), commands);
  EXPECT_EQ(command_, signedPackage ? commands.back() : "");
  EXPECT_EQ(output_, signedPackage ? "installed" : "PKG validation failed");
}

INSTANTIATE_TEST_SUITE_P(
    Packages, InstallOperationsTest,
    ::testing::Values(std::make_tuple("/tmp/Pkg\\ Dir/Folian\\ Installer.pkg", true),
                      std::make_tuple("/a.pkg", false),
                      std::make_tuple("/" + std::string(4000, 'p') + ".pkg", true)));

}  // namespace
