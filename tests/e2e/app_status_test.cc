// getAppStatus run end to end inside fake machines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/skiff_root.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
constexpr char kBundleInfo[] = "com.orvane.Folian.Pro_23.0,";
constexpr char kNotInstalledDocument[] =
    "<response><sapCode>FLNX</sapCode><version/><platform/><status><appStatus>not-installed"
    "</appStatus><installedData><isUninstallable>false</isUninstallable><isLaunchable>false"
    "</isLaunchable></installedData></status><bundleID/></response>";

std::string Installed(const std::string& version, const std::string& platform,
                      const std::string& installedData, bool uninstallable) {
  return std::string("<response><sapCode>FLNX</sapCode><version>") + version +
         "</version><platform>" + platform +
         "</platform><status><appStatus>installed</appStatus><installedData>" + installedData +
         "<isUninstallable>" + (uninstallable ? "true" : "false") +
         "</isUninstallable><isLaunchable>true</isLaunchable></installedData></status>"
         "<bundleID>com.orvane.Folian.Pro</bundleID></response>";
}

class AppStatusTest : public ::testing::Test {
 protected:
  // Runs getAppStatus and returns the document after its declaration.
  std::string Status() {
    const SkiffResult result = root_.RunMode("getAppStatus");
    EXPECT_EQ(result.exitCode, 0) << result.Describe() << "\n" << result.stderrText;
    EXPECT_EQ(result.stderrText, "");
    const std::string document = root_.OutputDocument();
    EXPECT_EQ(document.rfind(kDeclaration, 0), 0u) << document;
    return document.substr(std::min(document.size(), std::string(kDeclaration).size()));
  }

  SkiffRoot root_;
};

TEST_F(AppStatusTest, AnEvergreenInstallationIsReportedWithItsFullLog) {
  root_.AddInstallation();
  root_.WriteRequest(kBundleInfo);
  EXPECT_EQ(Status(), Installed("23.0", "osx10-64", "", true));
  const std::string url = "file:///Applications/Orvane%20Folian.app/";
  EXPECT_THAT(
      root_.LastRunLogLines(),
      ElementsAre(
          "Skiff has launched", "Skiff version=23.3.20269", "Num of req params found: 4",
          "In getapp status and launch op internal", std::string("BundleInfo list: ") + kBundleInfo,
          std::string("BundleInfo list for Appstatus from input xml: ") + kBundleInfo,
          "Get app status operation detected", "In Do Operation Synchronously", "In thread",
          "main BundleID for getAppStratus:com.orvane.Folian.Pro",
          "BundleID for getting App URL to launch: com.orvane.Folian.Pro",
          "Fetched all PDF Editors successfully", "Found Evergreen track for launch",
          "Send Evergreen track for launch", "NSURL found for launch: " + url,
          "Installed app track: Evergreen",
          "Bundle ID version string passed: com.orvane.Folian.Pro_23.0",
          "Bundle ID version string passed: ", "Calculated FFC version list",
          "Installed app version: 23.008.20470", "App path found: /Applications/Orvane Folian.app",
          "Found NSBundleExecutableArchitectureX86_64", "Detected target app on machine",
          "Generated output.xml: " + Installed("23.0", "osx10-64", "", true),
          "In write to output XML", "Loaded from string into xml",
          "Output xml str: " + Installed("23.0", "osx10-64", "", true),
          "Output xml path: /tmp/output.xml", "Saved to xml", "Skiff exited with error code: 0"));
}

TEST_F(AppStatusTest, NothingInstalledGivesTheFixedNotInstalledDocument) {
  root_.WriteRequest(kBundleInfo, std::string("upsell"));
  EXPECT_EQ(Status(), kNotInstalledDocument);
  EXPECT_THAT(root_.LastRunLogLines(), Contains("Not able to detect target app on machine"));
}

TEST_F(AppStatusTest, UpsellAddsWhereWhatAndWhichKind) {
  ProductInstallation installation;
  installation.bundlePath = "/Applications/X.app";
  root_.AddInstallation(installation);
  root_.WriteRequest(kBundleInfo, std::string("upsell"));
  EXPECT_EQ(Status(), Installed("23.0", "osx10-64",
                                "<workflow>upsell</workflow><appPath>/Applications/X.app</appPath>"
                                "<appTrack>Evergreen</appTrack><appType>foli</appType>",
                                true));
}

TEST_F(AppStatusTest, TheApplicationTypeFollowsFoliScaAndThePreferenceFile) {
  ProductInstallation installation;
  installation.foliSca = true;
  root_.AddInstallation(installation);
  root_.WriteInstallerPreferences("Evergreen", true, false);
  root_.WriteRequest(kBundleInfo, std::string("upsell"));
  EXPECT_THAT(Status(), ::testing::HasSubstr("<appType>scamini</appType>"));
  root_.WriteInstallerPreferences("Evergreen", true, true);
  EXPECT_THAT(Status(), ::testing::HasSubstr("<appType>sca</appType>"));
}

TEST_F(AppStatusTest, AnotherWorkflowIsEchoedAlone) {
  root_.AddInstallation();
  root_.WriteRequest(kBundleInfo, std::string("Upsell"));
  EXPECT_EQ(Status(), Installed("23.0", "osx10-64", "<workflow>Upsell</workflow>", true));
}

TEST_F(AppStatusTest, EvergreenIsPreferredAndSandboxCopiesAreSkipped) {
  ProductInstallation preview;
  preview.bundlePath = "/Applications/Preview Folian.app";
  preview.track = "Preview";
  root_.AddInstallation(preview);
  ProductInstallation sandboxed;
  sandboxed.bundlePath = "/Library/InstallerSandboxes/copy/Orvane Folian.app";
  root_.AddInstallation(sandboxed);
  root_.WriteRequest(kBundleInfo);
  // Only the Preview installation counts: launchable, not uninstallable.
  EXPECT_EQ(Status(), Installed("23.0", "osx10-64", "", false));
  const auto lines = root_.LastRunLogLines();
  EXPECT_THAT(lines, Contains("Send Preview track for launch"));
  EXPECT_THAT(lines, Not(Contains("Found Evergreen track for launch")));

  ProductInstallation evergreen;
  evergreen.bundlePath = "/Users/tester/Applications/Orvane Folian.app";
  root_.AddInstallation(evergreen);
  EXPECT_EQ(Status(), Installed("23.0", "osx10-64", "", true));
}

TEST_F(AppStatusTest, TheFixedTrackNeedsItsOwnVersionKey) {
  ProductInstallation fixed;
  fixed.track = "2041";
  root_.AddInstallation(fixed);
  root_.WriteRequest(kBundleInfo);
  EXPECT_EQ(Status(), kNotInstalledDocument);
  root_.WriteRequest("com.orvane.Folian.Pro_23.0,com.orvane.Folian.Pro_23.1");
  EXPECT_EQ(Status(), Installed("23.1", "osx10-64", "", false));
}

TEST_F(AppStatusTest, ArchitectureWordsOnBothSidesOfMacOS11) {
  ProductInstallation universal;
  universal.executable = ProductExecutable::kUniversal;
  root_.AddInstallation(universal);
  root_.WriteRequest(kBundleInfo);
  EXPECT_EQ(Status(), Installed("23.0", "macuniversal", "", true));
  root_.WriteSystemVersion("10.15.7");
  EXPECT_EQ(Status(), Installed("23.0", "osx10-64", "", true));

  universal.executable = ProductExecutable::kArm64;
  root_.AddInstallation(universal);
  EXPECT_EQ(Status(), kNotInstalledDocument);
  root_.WriteSystemVersion("11.0");
  EXPECT_EQ(Status(), Installed("23.0", "macarm64", "", true));
}

TEST_F(AppStatusTest, AnAmpersandInThePathIsEscapedAndReadsBack) {
  ProductInstallation installation;
  installation.bundlePath = "/Applications/Tom & Jerry <Folian>.app";
  root_.AddInstallation(installation);
  root_.WriteRequest(kBundleInfo, std::string("upsell"));
  EXPECT_EQ(Status(), Installed("23.0", "osx10-64",
                                "<workflow>upsell</workflow><appPath>/Applications/Tom &#38; Jerry "
                                "&#60;Folian&#62;.app</appPath><appTrack>Evergreen</appTrack>"
                                "<appType>foli</appType>",
                                true));
}

}  // namespace
