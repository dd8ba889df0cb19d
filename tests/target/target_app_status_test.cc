#include <gmock/gmock.h>

#include "tests/target/target_app_fixture.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

constexpr char kNotInstalled[] =
    "<response><sapCode>FLNX</sapCode><version></version><platform></platform><status>"
    "<appStatus>not-installed</appStatus><installedData><isUninstallable>false</isUninstallable>"
    "<isLaunchable>false</isLaunchable></installedData></status><bundleID></bundleID></response>";

// The <installedData> elements of an upsell of the default installation.
std::string Upsell(const std::string& type) {
  return "<workflow>upsell</workflow><appPath>" + std::string(kApp) +
         "</appPath><appTrack>Evergreen</appTrack><appType>" + type + "</appType>";
}

// The document around the given <installedData> contents.
std::string Installed(const std::string& version, const std::string& platform,
                      const std::string& data, bool uninstallable) {
  return "<response><sapCode>FLNX</sapCode><version>" + version + "</version><platform>" +
         platform + "</platform><status><appStatus>installed</appStatus><installedData>" + data +
         "<isUninstallable>" + (uninstallable ? "true" : "false") +
         "</isUninstallable><isLaunchable>true</isLaunchable></installedData></status>"
         "<bundleID>com.orvane.Folian.Pro</bundleID></response>";
}

// The document for an installation; `key` is the expected version element, ""
// for the not-installed document.
struct StatusRow {
  const char* workflow;
  FakeMachine::Installation app;
  const char* key;
  std::string data = "";  // <installedData> before <isUninstallable>
  const char* platform = "osx10-64";
  bool uninstallable = true, macOS11 = true;
};

class StatusRowTest : public TargetAppTest, public ::testing::WithParamInterface<StatusRow> {};

TEST_P(StatusRowTest, AnswersWithTheDocument) {
  const StatusRow& row = GetParam();
  machine_.Install(row.app);
  machine_.macOS11 = row.macOS11;
  EXPECT_EQ(Status(row.workflow),
            *row.key == '\0' ? kNotInstalled
                             : Installed(row.key, row.platform, row.data, row.uninstallable));
}

// The upsell rows give the type by the single-client marks of the installation.
INSTANTIATE_TEST_SUITE_P(
    Rows, StatusRowTest,
    ::testing::Values(
        StatusRow{"upsell", {kApp, kEvergreen, {false, true, false}}, "23.0", Upsell("foli")},
        StatusRow{"upsell", {kApp, kEvergreen, {true, false, true}}, "23.0", Upsell("foli")},
        StatusRow{"upsell", {kApp, kEvergreen, {true, true, true}}, "23.0", Upsell("sca")},
        StatusRow{"upsell", {kApp, kEvergreen, {true, true}}, "23.0", Upsell("scamini")},
        StatusRow{"Upsell", {}, "23.0", "<workflow>Upsell</workflow>"},
        StatusRow{"", {kApp, "2041"}, "23.1", "", "osx10-64", false},
        StatusRow{"upsell", {kApp, std::nullopt}, ""},
        StatusRow{"", {kApp, kEvergreen, {}, kId, {kX64}, std::nullopt}, ""},
        StatusRow{"", {kApp, kEvergreen, {}, kId, {kArm}}, "23.0", "", "macarm64"},
        StatusRow{
            "", {kApp, kEvergreen, {}, kId, {kArm, kX64}}, "23.0", "", "osx10-64", true, false},
        StatusRow{"", {kApp, kEvergreen, {}, kId, {kI386}}, ""}));

TEST_F(TargetAppTest, WithoutAnIdentifierNothingIsLookedFor) {
  machine_.Install({});
  EXPECT_EQ(Status("", ""), kNotInstalled);
  EXPECT_EQ(log_.lines(), (Lines{"Not able to detect target app on machine",
                                 std::string("Generated output.xml: ") + kNotInstalled}));
}

TEST_F(TargetAppTest, MarkupInValuesIsEscapedWithThePredefinedEntities) {
  const std::string path = "/Applications/Tom & <Jerry's> \"Folian\".app";
  machine_.Install({path});
  EXPECT_THAT(Status("upsell"), HasSubstr("<appPath>/Applications/Tom &amp; &lt;Jerry&apos;s&gt; "
                                          "&quot;Folian&quot;.app</appPath>"));
  EXPECT_THAT(log_.lines(), Contains("App path found: " + path));
  EXPECT_THAT(log_.lines(), Contains("App type found: foli"));
  EXPECT_THAT(Status("<a&b>"), HasSubstr("<workflow>&lt;a&amp;b&gt;</workflow>"));
}

TEST_F(TargetAppTest, ThePreferenceFileIsPerTrackAndItsFlagsCountOnlyAsNumbers) {
  EXPECT_EQ(App().getSCAInstallerPlistPath(std::nullopt), std::nullopt);
  machine_.Install({kApp, kEvergreen, {std::nullopt, true}});
  EXPECT_EQ(App().getSCAInstallerPlistPath(std::string("Preview")), std::nullopt);
  PlistValue& file = machine_.files[PreferencesOf(kEvergreen)];
  file.dictionary["bIsSingleClientApp"].kind = PlistValue::Kind::kString;
  file.dictionary["bIsSCFoliAppInstalled"] = {PlistValue::Kind::kInteger, "", 1};
  EXPECT_FALSE(App().isSingleClientApp(kEvergreen));
  EXPECT_TRUE(App().isSCFoliAppInstalled(kEvergreen));
}

TEST_F(TargetAppTest, ThePlatformLogsEachKnownSliceInOrder) {
  machine_.Install({"/A.app", kEvergreen, {}, kId, {kI386, kArm, kX64}});
  std::string platform = "untouched";
  EXPECT_FALSE(App().getAppPlatform("", platform));
  EXPECT_EQ(platform, "untouched");
  EXPECT_FALSE(App().getAppPlatform("/Nothing.app", platform));
  EXPECT_EQ(platform, "");
  EXPECT_TRUE(App().getAppPlatform("/A.app", platform));
  EXPECT_EQ(platform, "macuniversal");
  EXPECT_EQ(log_.lines(), (Lines{"Found NSBundleExecutableArchitectureI386",
                                 "Found NSBundleExecutableArchitectureARM64",
                                 "Found NSBundleExecutableArchitectureX86_64"}));
}

TEST_F(TargetAppTest, BundleInformationGivesTheIdentifierVersionsAndKey) {
  TargetApp app = App();
  EXPECT_EQ(app.getMainBundleID("com.orvane.Folian.Pro,x_1"), kId);
  EXPECT_EQ(app.getFFCVersionList("noversion,a_,,_3,a_1_2,a_1_2"), (Lines{"", "3", "1_2", "1_2"}));
  const Lines list = {"23.0", ".0"};
  EXPECT_EQ(app.findFFCVersion(list, "23", "Nightly"), "23.0");
  EXPECT_EQ(app.findFFCVersion(list, "", "Evergreen"), ".0");
}

}  // namespace
