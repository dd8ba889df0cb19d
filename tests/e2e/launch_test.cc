// launchApp run end to end: what was started and how.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/skiff_root.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class LaunchTest : public ::testing::Test {
 protected:
  LaunchTest() {
    installation_.executable = ProductExecutable::kRunnable;
    installation_.foliSca = true;
  }

  SkiffResult Launch() {
    const SkiffResult result = root_.RunMode("launchApp");
    EXPECT_EQ(result.stderrText, "");
    return result;
  }

  SkiffRoot root_;
  ProductInstallation installation_;
};

TEST_F(LaunchTest, AnOrdinaryLaunchStartsTheExecutableWithoutArguments) {
  root_.AddInstallation(installation_);
  root_.WriteRequest("com.orvane.Folian.Pro");
  EXPECT_EQ(Launch().exitCode, 0);
  const auto launches = root_.WaitForLaunches(1);
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].program, "/Applications/Orvane Folian.app/Contents/MacOS/Folian");
  EXPECT_THAT(launches[0].arguments, IsEmpty());
  const auto lines = root_.LastRunLogLines();
  EXPECT_THAT(std::vector<std::string>(lines.end() - 5, lines.end()),
              ElementsAre("Launching target app",
                          "NSURL found for launch: file:///Applications/Orvane%20Folian.app/",
                          "App will be launched without upgrade parameter.", "Launched target app",
                          "Skiff exited with error code: 0"));
}

TEST_F(LaunchTest, ASingleClientUpsellStartsItWithTheUpgradeArgumentAlone) {
  root_.AddInstallation(installation_);
  root_.WriteInstallerPreferences("Evergreen", true, false);
  root_.WriteRequest("com.orvane.Folian.Pro", std::string("upsell"));
  EXPECT_EQ(Launch().exitCode, 0);
  const auto launches = root_.WaitForLaunches(1);
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_THAT(launches[0].arguments, ElementsAre("/z"));
  const auto lines = root_.LastRunLogLines();
  EXPECT_THAT(
      std::vector<std::string>(lines.begin() + 10, lines.end()),
      ElementsAre("BundleID for getting App URL to launch: com.orvane.Folian.Pro",
                  "Fetched all PDF Editors successfully", "Found Evergreen track for launch",
                  "Send Evergreen track for launch", "Installed app track: Evergreen",
                  "Received workfow as upsell.", "Launching target app",
                  "NSURL found for launch: file:///Applications/Orvane%20Folian.app/",
                  "App will be launched with upgrade parameter.", "Launched target app",
                  "Skiff exited with error code: 0"));
}

TEST_F(LaunchTest, AnInstalledFoliAppMeansNoUpgradeArgument) {
  root_.AddInstallation(installation_);
  root_.WriteInstallerPreferences("Evergreen", true, true);
  root_.WriteRequest("com.orvane.Folian.Pro", std::string("upsell"));
  EXPECT_EQ(Launch().exitCode, 0);
  const auto launches = root_.WaitForLaunches(1);
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_THAT(launches[0].arguments, IsEmpty());
}

TEST_F(LaunchTest, AnExecutableThatCannotStartFailsWith38) {
  installation_.executable = ProductExecutable::kX86_64;  // a header, not a program
  root_.AddInstallation(installation_);
  root_.WriteInstallerPreferences("Evergreen", true, false);
  root_.WriteRequest("com.orvane.Folian.Pro", std::string("upsell"));
  EXPECT_EQ(Launch().exitCode, 38);
  const auto lines = root_.LastRunLogLines();
  EXPECT_THAT(std::vector<std::string>(lines.end() - 5, lines.end()),
              ElementsAre("App will be launched with upgrade parameter.",
                          "Some error occured while launching app with upgrade param, Will try to "
                          "launch App without upgrade parameter.",
                          "App will be launched without upgrade parameter.", "Launched target app",
                          "Skiff exited with error code: 38"));
}

TEST_F(LaunchTest, NoInstallationMeansNothingStartsAnd38) {
  root_.WriteRequest("com.orvane.Folian.Pro");
  EXPECT_EQ(Launch().exitCode, 38);
  EXPECT_THAT(root_.Launches(), IsEmpty());
}

}  // namespace
