// install run end to end under skiff-host: the signature gate, the system
// installer's command line, progress and the log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/signature_report_text.h"
#include "tests/support/skiff_root.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kProxyPath[] = "/tmp/proxy.xml";
constexpr char kPackageName[] = "Folian Installer.pkg";

class InstallTest : public ::testing::Test {
 protected:
  InstallTest() {
    root_.Tools().SetOutput("pkgutil", SignatureReportText());
    root_.Tools().SetOutput("installer", "installer: The install was successful.\n");
    WriteInput("/tmp/Pkg Dir");
  }

  void WriteInput(const std::string& sourceFolder, const std::string& name = kPackageName) {
    root_.WriteFile(kProxyPath, InstallProxyDocument(name));
    root_.WriteFile(SkiffRoot::kInputPath, DeploymentDocument({{"installSourcePath", sourceFolder},
                                                               {"proxyFile", kProxyPath}}));
  }

  SkiffResult Install(const std::vector<std::string>& hostOptions = {},
                      std::chrono::milliseconds timeout = SkiffRoot::kDefaultTimeout) {
    return root_.RunHost("install", hostOptions, SkiffRoot::kInputPath, timeout);
  }

  std::vector<std::vector<std::string>> InstallerCalls() {
    return root_.Tools().Calls("installer");
  }

  SkiffRoot root_;
};

TEST_F(InstallTest, ASignedPackageIsInstalledWithProgressAndEveryStepLogged) {
  root_.Tools().SetSleep("installer", std::chrono::milliseconds(1600));
  const SkiffResult result = Install();
  ASSERT_EQ(result.exitCode, 0) << result.Describe() << result.stderrText;

  const std::string path = "/tmp/Pkg Dir/Folian Installer.pkg";
  EXPECT_THAT(root_.Tools().Calls("pkgutil"),
              ElementsAre(std::vector<std::string>{"--check-signature", path}));
  EXPECT_THAT(InstallerCalls(), ElementsAre(std::vector<std::string>{"-pkg", path, "-tgt", "/"}));
  EXPECT_THAT(result.stdoutText, HasSubstr("progress 10\n"));
  EXPECT_THAT(result.stdoutText, HasSubstr("progress 100\nresult: success"));

  const std::string escaped = "/tmp/Pkg\\ Dir/Folian\\ Installer.pkg";
  const auto lines = root_.LastRunLogLines();
  EXPECT_EQ(FirstMissingInOrder(
                lines, {"In thread", "In RunInstall", "PKG path for verification: " + escaped,
                        "All certs present, pkg validation succeeded", "PKG path sent: " + escaped,
                        "command run: installer -pkg " + escaped + " -tgt /",
                        "RetVal of NSTask: for install/uninstall: 0",
                        "Output of install command: installer: The install was "
                        "successful."}),
            "");
  EXPECT_EQ(FirstMissingInOrder(
                lines, {"Install operation detected", "In Do Operation", "After init comm bridge",
                        "Thread created", "In while loop pre wait", "In while loop post wait",
                        "Operation status: 1", "Thread is done, I have been notified",
                        "Operation complete", "Terminate pkt received",
                        "Skiff exited with error code: 0"}),
            "");
  // The pipes stay for the next run.
  EXPECT_TRUE(root_.Exists("/tmp/skiff-e2e_IN"));
  EXPECT_TRUE(root_.Exists("/tmp/skiff-e2e_OUT"));
}

}  // namespace
