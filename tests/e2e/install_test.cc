// install run end to end under skiff-host: the signature gate, the system
// installer's command line, progress and the log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "tests/support/signature_report_text.h"
#include "tests/support/skiff_root.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

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

TEST_F(InstallTest, ShellCharactersInTheSourceFolderReachTheToolsAsOneLiteralPath) {
  const std::string folder =
      "/tmp/src $(touch /tmp/pwned) `touch /tmp/pwned2`; touch /tmp/pwned3 'q\"";
  WriteInput(folder);
  const SkiffResult result = Install();
  EXPECT_EQ(result.exitCode, 0) << result.Describe();
  const std::string path = folder + "/" + kPackageName;
  EXPECT_THAT(root_.Tools().Calls("pkgutil"),
              ElementsAre(std::vector<std::string>{"--check-signature", path}));
  EXPECT_THAT(InstallerCalls(), ElementsAre(std::vector<std::string>{"-pkg", path, "-tgt", "/"}));
  for (const char* marker : {"/tmp/pwned", "/tmp/pwned2", "/tmp/pwned3"}) {
    EXPECT_FALSE(root_.Exists(marker)) << marker;
  }
}

TEST_F(InstallTest, APathLongerThanAnyFixedCommandBufferIsInstalledWhole) {
  const std::string folder = "/tmp/" + std::string(600, 'p');
  WriteInput(folder);
  const SkiffResult result = Install();
  EXPECT_EQ(result.exitCode, 0) << result.Describe();
  EXPECT_THAT(InstallerCalls(), ElementsAre(std::vector<std::string>{
                                    "-pkg", folder + "/" + kPackageName, "-tgt", "/"}));
}

TEST_F(InstallTest, FiftyMegabytesOfInstallerOutputAreReadWhole) {
  root_.Tools().SetOutput("installer", std::string(1 << 20, 'x'));
  root_.Tools().SetRepeat("installer", 50);
  const SkiffResult result = Install({}, std::chrono::seconds(120));
  EXPECT_EQ(result.exitCode, 0) << result.Describe();
  bool found = false;
  for (const std::string& line : root_.LastRunLogLines()) {
    if (line.rfind("Output of install command: ", 0) == 0) {
      found = true;
      EXPECT_EQ(line.size(), std::string("Output of install command: ").size() + (50u << 20));
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(InstallTest, AnInstallerKilledByASignalIsAFailure) {
  root_.Tools().SetSignal("installer", SIGKILL);
  const SkiffResult result = Install();
  EXPECT_EQ(result.exitCode, 38) << result.Describe();
  EXPECT_THAT(root_.LastRunLogLines(), Contains("RetVal of NSTask: for install/uninstall: 137"));
}

TEST_F(InstallTest, InstallerOutputThatIsNotUtf8IsLoggedWithReplacementCharacters) {
  root_.Tools().SetOutput("installer", "caf\xe9 done\xff");
  root_.Tools().SetStatus("installer", 1);
  const SkiffResult result = Install();
  EXPECT_EQ(result.exitCode, 38) << result.Describe();
  EXPECT_THAT(root_.LastRunLogLines(),
              Contains("Output of install command: caf\xef\xbf\xbd done\xef\xbf\xbd"));
}

}  // namespace
