#include "platform/file_url.h"
#include "tests/target/target_app_fixture.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kId[] = "com.orvane.Folian.Pro";
constexpr char kFallbackLine[] =
    "Some error occured while launching app with upgrade param, Will try to launch App without "
    "upgrade parameter.";

class LaunchTest : public TargetAppTest {
 protected:
  // A single-client installation whose full application is not installed yet:
  // the case for the upgrade argument, unless `foliInstalled`.
  std::string InstallSingleClient(bool foliInstalled, bool hasExecutableKey = true) {
    FakeInstallation app;
    app.foliSca = true;
    app.hasExecutableKey = hasExecutableKey;
    std::string path = Install(AppsFolder(), "Folian.app", app);
    WriteInstallerPreferences(SupportFolder(), "Evergreen", true, foliInstalled);
    return path;
  }

  bool Launch(const std::string& bundleId, const std::string& workflow) {
    LaunchOperationParams params(bundleId);
    params.workflow = workflow;
    return App().launchTargetApp(params);
  }

  // The lines after those of the discovery.
  std::vector<std::string> LaunchLines() const {
    std::vector<std::string> lines = log_.lines();
    return std::vector<std::string>(lines.begin() + 4, lines.end());
  }
};

TEST_F(LaunchTest, UpgradeStartsTheExecutableWithOnlySlashZ) {
  std::string path = InstallSingleClient(false);
  EXPECT_TRUE(Launch(kId, "upsell"));
  ASSERT_EQ(launcher_.started.size(), 1u);
  EXPECT_EQ(launcher_.started[0].first, path + "/Contents/MacOS/" + kFakeExecutableName);
  EXPECT_EQ(launcher_.started[0].second, (Lines{"/z"}));
  EXPECT_TRUE((launcher_.opened).empty());
  EXPECT_EQ(log_.lines(),
            (Lines{std::string("BundleID for getting App URL to launch: ") + kId,
                   "Fetched all PDF Editors successfully", "Found Evergreen track for launch",
                   "Send Evergreen track for launch", "Installed app track: Evergreen",
                   "Received workfow as upsell.", "Launching target app",
                   "NSURL found for launch: " + UrlOf(path),
                   "App will be launched with upgrade parameter.", "Launched target app"}));
}

TEST_F(LaunchTest, FullApplicationInstalledMeansOrdinaryOpening) {
  std::string path = InstallSingleClient(true);
  EXPECT_TRUE(Launch(kId, "upsell"));
  EXPECT_TRUE((launcher_.started).empty());
  EXPECT_EQ(launcher_.opened, (Lines{path}));
}

TEST_F(LaunchTest, PlatformFailureFallsBackToOrdinaryOpening) {
  std::string path = InstallSingleClient(false);
  launcher_.start = FakeLauncher::Start::kThrowPlatform;
  launcher_.openAnswer = false;
  EXPECT_FALSE(Launch(kId, "upsell"));  // the desktop's answer decides
  EXPECT_EQ(launcher_.started.size(), 1u);
  EXPECT_EQ(launcher_.opened, (Lines{path}));
  EXPECT_EQ(LaunchLines(),
            (Lines{"Installed app track: Evergreen", "Received workfow as upsell.",
                   "Launching target app", "NSURL found for launch: " + UrlOf(path),
                   "App will be launched with upgrade parameter.", kFallbackLine,
                   "App will be launched without upgrade parameter.", "Launched target app"}));
}

TEST_F(LaunchTest, OtherExceptionsFromTheStartAreNotCaught) {
  InstallSingleClient(false);
  launcher_.start = FakeLauncher::Start::kThrowOther;
  EXPECT_THROW(Launch(kId, "upsell"), std::logic_error);
  EXPECT_TRUE((launcher_.opened).empty());
}

TEST_F(LaunchTest, MissingExecutableFallsBack) {
  std::string path = InstallSingleClient(false, false);
  EXPECT_TRUE(Launch(kId, "upsell"));
  EXPECT_TRUE((launcher_.started).empty());
  EXPECT_EQ(launcher_.opened, (Lines{path}));
  EXPECT_EQ(log_.lines()[log_.lines().size() - 3], kFallbackLine);
}

TEST_F(LaunchTest, ProcessIdMinusOneFailsWithoutFallback) {
  InstallSingleClient(false);
  launcher_.start = FakeLauncher::Start::kReturnMinusOne;
  EXPECT_FALSE(Launch(kId, "upsell"));
  EXPECT_TRUE((launcher_.opened).empty());
  EXPECT_EQ(log_.lines().back(), "Launched target app");
}

TEST_F(LaunchTest, DesktopRefusalIsFailureButStillLogged) {
  std::string path = Install(AppsFolder(), "Folian.app");
  launcher_.openAnswer = false;
  EXPECT_FALSE(Launch(kId, "install"));
  EXPECT_EQ(launcher_.opened, (Lines{path}));
  EXPECT_EQ(LaunchLines(),
            (Lines{"Installed app track: Evergreen", "Launching target app",
                   "NSURL found for launch: " + UrlOf(path),
                   "App will be launched without upgrade parameter.", "Launched target app"}));
}

TEST_F(LaunchTest, UpsellWithoutSingleClientKeyOpensNormally) {
  std::string path = Install(AppsFolder(), "Folian.app");
  WriteInstallerPreferences(SupportFolder(), "Evergreen", true, false);
  EXPECT_TRUE(Launch(kId, "upsell"));
  EXPECT_TRUE((launcher_.started).empty());
  EXPECT_EQ(LaunchLines(),
            (Lines{"Installed app track: Evergreen", "Received workfow as upsell.",
                   "Launching target app", "NSURL found for launch: " + UrlOf(path),
                   "App will be launched without upgrade parameter.", "Launched target app"}));
}

TEST_F(LaunchTest, OnlyExactUpsellConsidersTheUpgrade) {
  InstallSingleClient(false);
  EXPECT_TRUE(Launch(kId, ""));
  EXPECT_TRUE(Launch(kId, "Upsell"));
  EXPECT_TRUE((launcher_.started).empty());
  EXPECT_EQ(launcher_.opened.size(), 2u);
  for (const std::string& line : log_.lines())
    EXPECT_EQ(line.find("Received workfow"), std::string::npos);
}

TEST_F(LaunchTest, NothingToLaunch) {
  EXPECT_FALSE(Launch("", "upsell"));
  EXPECT_TRUE((log_.lines()).empty());

  FakeInstallation noTrack;
  noTrack.track.reset();
  Install(AppsFolder(), "Folian.app", noTrack);
  EXPECT_FALSE(Launch(kId, "upsell"));
  EXPECT_EQ(log_.lines(), (Lines{std::string("BundleID for getting App URL to launch: ") + kId,
                                 "Fetched all PDF Editors successfully"}));
  EXPECT_TRUE((launcher_.started).empty());
  EXPECT_TRUE((launcher_.opened).empty());
}

}  // namespace
