// uninstall run end to end under skiff-host: the track gate and the remover
// tool's command line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/skiff_root.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char kProxyPath[] = "/tmp/proxy.xml";
constexpr char kRemover[] = "com.orvane.Folian.RemoverTool";
constexpr char kRemoverBelowFolder[] =
    "/Orvane Folian.app/Contents/Helpers/Folian Uninstaller.app/Contents/Library/"
    "LaunchServices/com.orvane.Folian.RemoverTool";
constexpr char kAppBelowFolder[] =
    "/Orvane Folian.app/Contents/Frameworks/Folian.framework/Folian.app";

class UninstallTest : public ::testing::Test {
 protected:
  // An installation folder "/Applications" + `subfolder`, holding the
  // remover tool, described by the proxy document.
  void PrepareRemover(const std::string& subfolder = "") {
    root_.InstallFakeTool("/Applications" + subfolder + kRemoverBelowFolder);
    root_.Tools().SetOutput(kRemover, "removed\n");
    root_.WriteFile(kProxyPath, UninstallProxyDocument("[OrvaneProgramFiles]" + subfolder,
                                                       kRemoverPathTemplate));
  }

  void WriteInput(const std::string& bundleId = "com.orvane.Folian.Pro") {
    root_.WriteFile(SkiffRoot::kInputPath,
                    DeploymentDocument({{"proxyFile", kProxyPath}, {"bundleInfo", bundleId}}));
  }

  SkiffResult Uninstall() { return root_.RunHost("uninstall"); }

  SkiffRoot root_;
};

TEST_F(UninstallTest, AnEvergreenInstallationIsRemovedByItsTool) {
  root_.AddInstallation();
  PrepareRemover();
  WriteInput();
  const SkiffResult result = Uninstall();
  ASSERT_EQ(result.exitCode, 0) << result.Describe() << result.stderrText;
  const std::string remover = std::string("/Applications") + kRemoverBelowFolder;
  EXPECT_THAT(root_.Tools().Calls(kRemover),
              ElementsAre(std::vector<std::string>{
                  remover, std::string("/Applications") + kAppBelowFolder}));
  EXPECT_THAT(result.stdoutText, HasSubstr("progress 100\nresult: success"));

  const std::string escapedRemover =
      "/Applications/Orvane\\ Folian.app/Contents/Helpers/Folian\\ Uninstaller.app/Contents/"
      "Library/LaunchServices/com.orvane.Folian.RemoverTool";
  EXPECT_EQ(
      FirstMissingInOrder(
          root_.LastRunLogLines(),
          {"Uninstall operation detected", "In Do Operation", "After init comm bridge", "In thread",
           "bundle id in RunUninstall: com.orvane.Folian.Pro",
           "Evergreen track found, uninstalling...",
           "command run: " + escapedRemover + " " + escapedRemover +
               " /Applications/Orvane\\ Folian.app/Contents/Frameworks/Folian.framework/"
               "Folian.app",
           "RetVal of NSTask: for install/uninstall: 0", "Output of uninstall command: removed",
           "Operation complete", "Terminate pkt received", "Skiff exited with error code: 0"}),
      "");
}

TEST_F(UninstallTest, APreviewInstallationIsNotUninstalled) {
  ProductInstallation preview;
  preview.track = "Preview";
  root_.AddInstallation(preview);
  PrepareRemover();
  WriteInput();
  const SkiffResult result = Uninstall();
  EXPECT_EQ(result.exitCode, 38) << result.Describe();
  EXPECT_THAT(root_.Tools().Calls(kRemover), IsEmpty());
  EXPECT_THAT(result.stdoutText, HasSubstr("error 38\n"));
  EXPECT_THAT(root_.LastRunLogLines(),
              Contains("Other track than Evergreen installed we will not uninstall"));
}

TEST_F(UninstallTest, WithoutAnInstallationNothingIsRun) {
  PrepareRemover();
  WriteInput();
  const SkiffResult result = Uninstall();
  EXPECT_EQ(result.exitCode, 38) << result.Describe();
  EXPECT_THAT(root_.Tools().Calls(kRemover), IsEmpty());
  EXPECT_THAT(root_.LastRunLogLines(), Contains("Output of uninstall command: "));
}

TEST_F(UninstallTest, AFailingRemoverFailsTheOperation) {
  root_.AddInstallation();
  PrepareRemover();
  root_.Tools().SetStatus(kRemover, 3);
  WriteInput();
  const SkiffResult result = Uninstall();
  EXPECT_EQ(result.exitCode, 38) << result.Describe();
  EXPECT_THAT(root_.LastRunLogLines(), Contains("RetVal of NSTask: for install/uninstall: 3"));
}

TEST_F(UninstallTest, ShellCharactersInTheProxyPathsReachTheRemoverAsLiteralPaths) {
  root_.AddInstallation();
  const std::string subfolder = "/Evil $(touch /tmp/pwned) `touch /tmp/pwned2`; 'q\"";
  PrepareRemover(subfolder);
  WriteInput();
  const SkiffResult result = Uninstall();
  EXPECT_EQ(result.exitCode, 0) << result.Describe();
  const std::string folder = "/Applications" + subfolder;
  EXPECT_THAT(root_.Tools().Calls(kRemover),
              ElementsAre(std::vector<std::string>{folder + kRemoverBelowFolder,
                                                   folder + kAppBelowFolder}));
  EXPECT_FALSE(root_.Exists("/tmp/pwned"));
  EXPECT_FALSE(root_.Exists("/tmp/pwned2"));
}

}  // namespace
