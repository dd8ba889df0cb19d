#include <gmock/gmock.h>

#include "tests/target/target_app_fixture.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

// The versions the host knows: 23.0 for most tracks, 23.1 for the fixed one.
constexpr char kInfo[] = "com.orvane.Folian.Pro_23.0,com.orvane.Folian.Pro_23.1";
constexpr char kNotInstalled[] =
    "<response><sapCode>FLNX</sapCode><version></version><platform></platform><status>"
    "<appStatus>not-installed</appStatus><installedData><isUninstallable>false</isUninstallable>"
    "<isLaunchable>false</isLaunchable></installedData></status><bundleID></bundleID></response>";
constexpr char kUpsell[] =
    "<workflow>upsell</workflow><appPath>/Applications/Folian.app</appPath>"
    "<appTrack>Evergreen</appTrack><appType>foli</appType>";

// The document around the given <installedData> contents.
std::string Installed(const std::string& version, const std::string& platform,
                      const std::string& data, bool uninstallable) {
  return "<response><sapCode>FLNX</sapCode><version>" + version + "</version><platform>" +
         platform + "</platform><status><appStatus>installed</appStatus><installedData>" + data +
         "<isUninstallable>" + (uninstallable ? "true" : "false") +
         "</isUninstallable><isLaunchable>true</isLaunchable></installedData></status>"
         "<bundleID>com.orvane.Folian.Pro</bundleID></response>";
}

class StatusTest : public TargetAppTest {
 protected:
  std::string Status(const std::string& workflow, const std::string& bundleInfo = kInfo) {
    AppStatusOperationParams params(bundleInfo);
    params.workflow = workflow;
    std::string response;
    EXPECT_TRUE(App().generateAppStatusXml(params, response));
    return response;
  }
};

// A document for the default installation (Evergreen, version 23.008.20470,
// one x86-64 slice) or for the one changed in the fields given; `key` is the
// expected version element, "" for the not-installed document.
struct StatusRow {
  const char* workflow;
  std::optional<std::string> track;
  const char* key;
  const char* platform = "osx10-64";
  bool uninstallable = true;
  std::string data = "";  // <installedData> before <isUninstallable>
  std::vector<uint32_t> architectures = {kX64};
  bool macOS11 = true;
  std::optional<std::string> version = "23.008.20470";
};

class StatusRowTest : public StatusTest, public ::testing::WithParamInterface<StatusRow> {};

TEST_P(StatusRowTest, AnswersWithTheDocument) {
  const StatusRow& row = GetParam();
  machine_.Install(
      {"/Applications/Folian.app", row.track, kId, {}, row.architectures, row.version});
  machine_.macOS11 = row.macOS11;
  EXPECT_EQ(Status(row.workflow),
            *row.key == '\0' ? kNotInstalled
                             : Installed(row.key, row.platform, row.data, row.uninstallable));
}

constexpr char kEvergreen[] = "Evergreen";

INSTANTIATE_TEST_SUITE_P(
    Rows, StatusRowTest,
    ::testing::Values(StatusRow{"upsell", kEvergreen, "23.0", "osx10-64", true, kUpsell},
                      StatusRow{"Upsell", kEvergreen, "23.0", "osx10-64", true,
                                "<workflow>Upsell</workflow>"},
                      StatusRow{"", "2041", "23.1", "osx10-64", false},
                      StatusRow{"upsell", std::nullopt, ""},
                      StatusRow{"", kEvergreen, "", "", true, "", {kX64}, true, std::nullopt},
                      StatusRow{"", kEvergreen, "23.0", "macarm64", true, "", {kArm}},
                      StatusRow{"", kEvergreen, "23.0", "osx10-64", true, "", {kArm, kX64}, false},
                      StatusRow{"", kEvergreen, "", "", true, "", {kI386}}));

TEST_F(StatusTest, WithoutAnIdentifierNothingIsLookedFor) {
  machine_.Install({});
  EXPECT_EQ(Status("", ""), kNotInstalled);
  EXPECT_EQ(log_.lines(), (Lines{"Not able to detect target app on machine",
                                 std::string("Generated output.xml: ") + kNotInstalled}));
}

TEST_F(StatusTest, MarkupInValuesIsEscapedWithThePredefinedEntities) {
  const std::string path = "/Applications/Tom & <Jerry's> \"Folian\".app";
  machine_.Install({path});
  EXPECT_THAT(Status("upsell"), HasSubstr("<appPath>/Applications/Tom &amp; &lt;Jerry&apos;s&gt; "
                                          "&quot;Folian&quot;.app</appPath>"));
  EXPECT_THAT(log_.lines(), Contains("App path found: " + path));
  EXPECT_THAT(Status("<a&b>"), HasSubstr("<workflow>&lt;a&amp;b&gt;</workflow>"));
}

struct AppTypeRow {
  std::optional<bool> foliSca, singleClient, foliInstalled;
  const char* type;
};

class AppTypeTest : public StatusTest, public ::testing::WithParamInterface<AppTypeRow> {};

TEST_P(AppTypeTest, FollowsTheThreeSingleClientTests) {
  InstallSingleClient(GetParam().foliSca, GetParam().singleClient, GetParam().foliInstalled);
  Status("upsell");
  EXPECT_THAT(log_.lines(), Contains(std::string("App type found: ") + GetParam().type));
}

INSTANTIATE_TEST_SUITE_P(Rows, AppTypeTest,
                         ::testing::Values(AppTypeRow{true, true, true, "sca"},
                                           AppTypeRow{true, true, false, "scamini"},
                                           AppTypeRow{true, true, std::nullopt, "scamini"},
                                           AppTypeRow{true, false, true, "foli"},
                                           AppTypeRow{false, true, false, "foli"}));

TEST_F(StatusTest, ThePreferenceFileIsPerTrackAndItsFlagsCountOnlyAsNumbers) {
  EXPECT_EQ(App().getSCAInstallerPlistPath(std::nullopt), std::nullopt);
  InstallSingleClient(std::nullopt, true, std::nullopt);
  EXPECT_EQ(App().getSCAInstallerPlistPath(std::string("Preview")), std::nullopt);
  EXPECT_TRUE(App().isSingleClientApp(kEvergreen));
  PlistValue& file = machine_.files[kPreferences];
  file.dictionary["bIsSingleClientApp"].kind = PlistValue::Kind::kString;
  file.dictionary["bIsSCFoliAppInstalled"].kind = PlistValue::Kind::kInteger;
  file.dictionary["bIsSCFoliAppInstalled"].number = 1;
  EXPECT_FALSE(App().isSingleClientApp(kEvergreen));
  EXPECT_TRUE(App().isSCFoliAppInstalled(kEvergreen));
}

TEST_F(StatusTest, ThePlatformLogsEachKnownSliceInOrder) {
  machine_.Install({"/A.app", kEvergreen, kId, {}, {kI386, kArm, kX64}});
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

TEST_F(StatusTest, BundleInformationGivesTheIdentifierVersionsAndKey) {
  TargetApp app = App();
  EXPECT_EQ(app.getMainBundleID("com.orvane.Folian.Pro,x_1"), kId);
  EXPECT_EQ(app.getFFCVersionList("noversion,a_,,_3,a_1_2,a_1_2"), (Lines{"", "3", "1_2", "1_2"}));
  const Lines list = {"23.0", "24.1", ".0"};
  EXPECT_EQ(app.findFFCVersion(list, "24.001", "2041"), "24.1");
  EXPECT_EQ(app.findFFCVersion(list, "23", "Nightly"), "23.0");
  EXPECT_EQ(app.findFFCVersion(list, "2.3", "Evergreen"), "");
  EXPECT_EQ(app.findFFCVersion(list, "", "Evergreen"), ".0");
}

}  // namespace
