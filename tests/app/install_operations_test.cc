#include "app/install_operations.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "target/target_app.h"
#include "tests/support/fake_shell.h"
#include "tests/support/recording_log.h"
#include "tests/support/signature_report_text.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class InstallOperationsTest : public ::testing::Test {
 protected:
  InstallOperationsTest() {
    TargetAppEnvironment environment;
    environment.shell = &shell_;
    app_ = std::make_unique<TargetApp>(log_, environment);
    shell_.Answer("installer ", 0, "installed");
  }

  void SignAll() { shell_.Answer(kSignatureCheckCommand, 0, SignatureReportText()); }

  RecordingLog log_;
  FakeShell shell_;
  std::unique_ptr<TargetApp> app_;
  std::string command_;
  std::string output_;
};

TEST_F(InstallOperationsTest, ASignedPackageIsHandedToTheInstallerAsTheShellWroteIt) {
  SignAll();
  const InstallOperationParams params("/tmp/Pkg\\ Dir/Folian\\ Installer.pkg");
  EXPECT_TRUE(RunInstall(log_, *app_, command_, output_, params));
  EXPECT_EQ(command_, "installer -pkg /tmp/Pkg\\ Dir/Folian\\ Installer.pkg -tgt /");
  EXPECT_EQ(shell_.commands().back(), command_);
  EXPECT_EQ(output_, "installed");
}

TEST_F(InstallOperationsTest, ARejectedPackageNeverReachesTheInstaller) {
  shell_.Answer(kSignatureCheckCommand, 1, "Status: no signature\n");
  EXPECT_FALSE(RunInstall(log_, *app_, command_, output_, InstallOperationParams("/a.pkg")));
  EXPECT_EQ(output_, "PKG validation failed");
  EXPECT_THAT(shell_.commands(), ElementsAre("/usr/sbin/pkgutil --check-signature /a.pkg"));
  EXPECT_THAT(command_, IsEmpty());
}

TEST_F(InstallOperationsTest, APathBeyondAnyFixedBufferIsNeverCut) {
  SignAll();
  const std::string path = "/" + std::string(4000, 'p') + ".pkg";
  EXPECT_TRUE(RunInstall(log_, *app_, command_, output_, InstallOperationParams(path)));
  EXPECT_EQ(shell_.commands().back(), "installer -pkg " + path + " -tgt /");
}

TEST_F(InstallOperationsTest, AnEmptyBundleIdIsNeverUninstalled) {
  EXPECT_FALSE(RunUninstall(log_, *app_, command_, output_,
                            UninstallOperationParams("/remover /remover /app", "")));
  EXPECT_THAT(shell_.commands(), IsEmpty());
  EXPECT_THAT(output_, IsEmpty());
}

}  // namespace
