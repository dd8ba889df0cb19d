#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <sstream>

#include "tests/target/target_app_fixture.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kBundleInfo[] = "com.orvane.Folian.Pro_23.0,";
constexpr char kNotInstalled[] =
    "<response><sapCode>FLNX</sapCode><version></version><platform></platform><status>"
    "<appStatus>not-installed</appStatus><installedData><isUninstallable>false</isUninstallable>"
    "<isLaunchable>false</isLaunchable></installedData></status><bundleID></bundleID></response>";

// The document around the given <installedData> contents.
std::string Installed(const std::string& version, const std::string& platform,
                      const std::string& data) {
  return "<response><sapCode>FLNX</sapCode><version>" + version + "</version><platform>" +
         platform + "</platform><status><appStatus>installed</appStatus><installedData>" + data +
         "<isLaunchable>true</isLaunchable></installedData></status>"
         "<bundleID>com.orvane.Folian.Pro</bundleID></response>";
}

constexpr char kUninstallable[] = "<isUninstallable>true</isUninstallable>";
constexpr char kNotUninstallable[] = "<isUninstallable>false</isUninstallable>";

class StatusTest : public TargetAppTest {
 protected:
  std::string Status(const std::string& bundleInfo, const std::string& workflow = "") {
    AppStatusOperationParams params(bundleInfo);
    params.workflow = workflow;
    std::string response;
    EXPECT_TRUE(App().generateAppStatusXml(params, response));
    return response;
  }
};

TEST_F(StatusTest, InstalledDocumentAndLogAreExact) {
  std::string path = Install(AppsFolder(), "Folian.app");
  std::string expected = Installed("23.0", "osx10-64", kUninstallable);
  EXPECT_EQ(Status(kBundleInfo), expected);
  EXPECT_EQ(log_.lines(),
            (Lines{"main BundleID for getAppStratus:com.orvane.Folian.Pro",
                   "BundleID for getting App URL to launch: com.orvane.Folian.Pro",
                   "Fetched all PDF Editors successfully", "Found Evergreen track for launch",
                   "Send Evergreen track for launch", "NSURL found for launch: " + UrlOf(path),
                   "Installed app track: Evergreen",
                   "Bundle ID version string passed: com.orvane.Folian.Pro_23.0",
                   "Bundle ID version string passed: ", "Calculated FFC version list",
                   "Installed app version: 23.008.20470", "App path found: " + path,
                   "Found NSBundleExecutableArchitectureX86_64", "Detected target app on machine",
                   "Generated output.xml: " + expected}));
}

TEST_F(StatusTest, UpsellAddsInstallationData) {
  std::string path = Install(AppsFolder(), "X.app");
  EXPECT_EQ(Status(kBundleInfo, "upsell"),
            Installed("23.0", "osx10-64",
                      "<workflow>upsell</workflow><appPath>" + path +
                          "</appPath><appTrack>Evergreen</appTrack><appType>foli</appType>" +
                          kUninstallable));
  EXPECT_EQ(log_.lines()[log_.lines().size() - 2], "App type found: foli");
}

TEST_F(StatusTest, OtherWorkflowIsOnlyEchoed) {
  Install(AppsFolder(), "Folian.app");
  EXPECT_EQ(
      Status(kBundleInfo, "install"),
      Installed("23.0", "osx10-64", std::string("<workflow>install</workflow>") + kUninstallable));
  EXPECT_EQ(
      Status(kBundleInfo, "Upsell"),
      Installed("23.0", "osx10-64", std::string("<workflow>Upsell</workflow>") + kUninstallable));
}

TEST_F(StatusTest, FixedTrackNeedsItsOwnVersionKey) {
  FakeInstallation fixed;
  fixed.track = "2041";
  Install(AppsFolder(), "Folian.app", fixed);
  EXPECT_EQ(Status(kBundleInfo, "install"), kNotInstalled);
  EXPECT_EQ(Status("com.orvane.Folian.Pro_23.0,com.orvane.Folian.Pro_23.1"),
            Installed("23.1", "osx10-64", kNotUninstallable));
}

TEST_F(StatusTest, PreviewIsLaunchableButNotUninstallable) {
  FakeInstallation preview;
  preview.track = "Preview";
  Install(AppsFolder(), "Folian.app", preview);
  EXPECT_EQ(Status("com.orvane.Folian.Pro_23.0"), Installed("23.0", "osx10-64", kNotUninstallable));
}

TEST_F(StatusTest, EveryMissingPieceGivesTheSameNotInstalledDocument) {
  EXPECT_EQ(Status(""), kNotInstalled);
  EXPECT_EQ(log_.lines(), (Lines{"Not able to detect target app on machine",
                                 std::string("Generated output.xml: ") + kNotInstalled}));
  EXPECT_EQ(Status(kBundleInfo, "upsell"), kNotInstalled);  // nothing installed

  FakeInstallation noVersion;
  noVersion.version.reset();
  std::string path = Install(AppsFolder(), "NoVersion.app", noVersion);
  EXPECT_EQ(Status(kBundleInfo), kNotInstalled);
  WriteInstallation(path, FakeInstallation());
  EXPECT_EQ(Status("com.orvane.Folian.Pro_22.0"), kNotInstalled);
  EXPECT_EQ(Status("com.orvane.Folian.Pro.Other_23.0"), kNotInstalled);
}

// Parses the document with an independent XML reader; fails on malformed text.
boost::property_tree::ptree ParseXml(const std::string& text) {
  boost::property_tree::ptree tree;
  std::istringstream in(text);
  boost::property_tree::read_xml(in, tree);
  return tree;
}

TEST_F(StatusTest, MarkupInValuesIsEscapedAndReadsBack) {
  std::string path = Install(AppsFolder(), "Tom & <Jerry's> \"Folian\".app");
  std::string response = Status(kBundleInfo, "upsell");
  EXPECT_NE(response.find("/Applications/Tom &amp; &lt;Jerry&apos;s&gt; &quot;Folian&quot;.app"
                          "</appPath>"),
            std::string::npos);
  EXPECT_EQ(log_.lines().back(), "Generated output.xml: " + response);
  EXPECT_EQ(log_.lines()[log_.lines().size() - 5], "App path found: " + path);  // the raw path
  EXPECT_EQ(ParseXml(response).get<std::string>("response.status.installedData.appPath"), path);

  std::string other = Status(kBundleInfo, "<a&b>");
  EXPECT_EQ(ParseXml(other).get<std::string>("response.status.installedData.workflow"), "<a&b>");
}

struct AppTypeCase {
  std::optional<bool> foliSca, singleClient, foliInstalled;
  const char* type;
};

class AppTypeTest : public StatusTest, public ::testing::WithParamInterface<AppTypeCase> {};

TEST_P(AppTypeTest, FollowsTheThreeSingleClientTests) {
  FakeInstallation app;
  app.foliSca = GetParam().foliSca;
  std::string path = Install(AppsFolder(), "Folian.app", app);
  WriteInstallerPreferences(SupportFolder(), "Evergreen", GetParam().singleClient,
                            GetParam().foliInstalled);
  EXPECT_EQ(Status(kBundleInfo, "upsell"),
            Installed("23.0", "osx10-64",
                      "<workflow>upsell</workflow><appPath>" + path +
                          "</appPath><appTrack>Evergreen</appTrack><appType>" + GetParam().type +
                          "</appType>" + kUninstallable));
}

INSTANTIATE_TEST_SUITE_P(Types, AppTypeTest,
                         ::testing::Values(AppTypeCase{true, true, true, "sca"},
                                           AppTypeCase{true, true, false, "scamini"},
                                           AppTypeCase{true, true, std::nullopt, "scamini"},
                                           AppTypeCase{true, false, true, "foli"},
                                           AppTypeCase{false, true, false, "foli"},
                                           AppTypeCase{std::nullopt, true, false, "foli"}));

TEST_F(StatusTest, PreferenceFileIsPerTrackAndMustBeAFile) {
  EXPECT_EQ(App().getSCAInstallerPlistPath(std::nullopt), std::nullopt);
  EXPECT_EQ(App().getSCAInstallerPlistPath(std::string("Evergreen")), std::nullopt);
  WriteInstallerPreferences(SupportFolder(), "Preview", true, true);
  EXPECT_EQ(App().getSCAInstallerPlistPath(std::string("Evergreen")), std::nullopt);
  EXPECT_FALSE(App().isSingleClientApp("Evergreen"));
  EXPECT_TRUE(App().isSingleClientApp("Preview"));
  EXPECT_EQ(App().getSCAInstallerPlistPath(std::string("Preview")),
            SupportFolder() +
                "/Orvane/Folian/Preview/SupportFiles/Preferences/"
                "com.orvane.folian.scainstaller.plist");

  MakeDirectoriesOrDie(SupportFolder() +
                       "/Orvane/Folian/Nightly/SupportFiles/Preferences/"
                       "com.orvane.folian.scainstaller.plist");
  EXPECT_EQ(App().getSCAInstallerPlistPath(std::string("Nightly")), std::nullopt);
}

TEST_F(StatusTest, PreferenceFlagsCountOnlyAsNumbers) {
  WriteFileOrDie(SupportFolder() +
                     "/Orvane/Folian/Evergreen/SupportFiles/Preferences/"
                     "com.orvane.folian.scainstaller.plist",
                 "<plist version=\"1.0\"><dict><key>bIsSingleClientApp</key><string>YES</string>"
                 "<key>bIsSCFoliAppInstalled</key><integer>1</integer></dict></plist>");
  EXPECT_FALSE(App().isSingleClientApp("Evergreen"));
  EXPECT_TRUE(App().isSCFoliAppInstalled("Evergreen"));
}

struct PlatformCase {
  std::vector<uint32_t> architectures;
  std::optional<std::string> systemVersion;  // absent file counts as macOS 11
  const char* platform;                      // "" for none
};

class PlatformTest : public StatusTest, public ::testing::WithParamInterface<PlatformCase> {};

TEST_P(PlatformTest, NamesTheUsableProcessorTypes) {
  FakeInstallation app;
  app.architectures = GetParam().architectures;
  std::string path = Install(AppsFolder(), "Folian.app", app);
  if (GetParam().systemVersion) {
    WriteSystemVersion(environment_.systemVersionPlist, *GetParam().systemVersion);
  }
  std::string platform = "untouched";
  EXPECT_EQ(App().getAppPlatform(path, platform), *GetParam().platform != '\0');
  EXPECT_EQ(platform, GetParam().platform);
  std::string expected = *GetParam().platform == '\0'
                             ? std::string(kNotInstalled)
                             : Installed("23.0", GetParam().platform, kUninstallable);
  EXPECT_EQ(Status(kBundleInfo), expected);
}

constexpr uint32_t kX64 = kBundleExecutableArchitectureX86_64;
constexpr uint32_t kArm = kBundleExecutableArchitectureARM64;
constexpr uint32_t kI386 = kBundleExecutableArchitectureI386;

INSTANTIATE_TEST_SUITE_P(
    Platforms, PlatformTest,
    ::testing::Values(PlatformCase{{kX64, kArm}, std::string("11.0"), "macuniversal"},
                      PlatformCase{{kArm, kX64}, std::nullopt, "macuniversal"},
                      PlatformCase{{kX64, kArm}, std::string("10.15.7"), "osx10-64"},
                      PlatformCase{{kArm}, std::string("11.0"), "macarm64"},
                      PlatformCase{{kArm}, std::string("10.15.7"), ""},
                      PlatformCase{{kI386}, std::nullopt, ""},
                      PlatformCase{{kI386, kX64}, std::string("10.15.7"), "osx10-64"}));

TEST_F(StatusTest, PlatformLogsEachRecognisedSliceInOrder) {
  FakeInstallation app;
  app.architectures = {kI386, kArm, kX64};
  std::string path = Install(AppsFolder(), "Folian.app", app);
  std::string platform;
  EXPECT_TRUE(App().getAppPlatform(path, platform));
  EXPECT_EQ(log_.lines(), (Lines{"Found NSBundleExecutableArchitectureI386",
                                 "Found NSBundleExecutableArchitectureARM64",
                                 "Found NSBundleExecutableArchitectureX86_64"}));
}

TEST_F(StatusTest, PlatformWithoutBundleOrPath) {
  std::string platform = "untouched";
  EXPECT_FALSE(App().getAppPlatform("", platform));
  EXPECT_EQ(platform, "untouched");
  EXPECT_FALSE(App().getAppPlatform(temp_.path() + "/Nothing.app", platform));
  EXPECT_EQ(platform, "");
}

TEST_F(StatusTest, BundleInformationIsSplitIntoIdAndVersions) {
  TargetApp app = App();
  EXPECT_EQ(app.getMainBundleID("com.orvane.Folian.Pro_23.0,com.orvane.Folian.Pro_20.1,"),
            "com.orvane.Folian.Pro");
  EXPECT_EQ(app.getMainBundleID("com.orvane.Folian.Pro_23.0"), "com.orvane.Folian.Pro");
  EXPECT_EQ(app.getMainBundleID("com.orvane.Folian.Pro,x_1"), "com.orvane.Folian.Pro");
  EXPECT_EQ(app.getMainBundleID(""), "");
  EXPECT_EQ(app.getFFCVersionList("a_23.0,a_20.1,"), (Lines{"23.0", "20.1"}));
  EXPECT_EQ(app.getFFCVersionList("a_23.0"), (Lines{"23.0"}));
  EXPECT_EQ(app.getFFCVersionList("noversion,a_,a_1_2,a_1_2"), (Lines{"", "1_2", "1_2"}));
  EXPECT_EQ(app.getFFCVersionList(",a_2,,_3,b_4"), (Lines{"2", "3", "4"}));
}

TEST_F(StatusTest, VersionKeyIsMajorWithTrackSuffix) {
  TargetApp app = App();
  std::vector<std::string> list = {"23.0", "24.1"};
  EXPECT_EQ(app.findFFCVersion(list, "23.008.20470", "Evergreen"), "23.0");
  EXPECT_EQ(app.findFFCVersion(list, "23.008.20470", "2041"), "");
  EXPECT_EQ(app.findFFCVersion(list, "24.001", "2041"), "24.1");
  EXPECT_EQ(app.findFFCVersion(list, "23", "Nightly"), "23.0");
  EXPECT_EQ(app.findFFCVersion(list, "2.3", "Evergreen"), "");
  EXPECT_EQ(app.findFFCVersion({".0"}, "", "Evergreen"), ".0");
}

}  // namespace
