#include "tests/target/target_app_fixture.h"

namespace {

using Start = FakeMachine::Start;

constexpr char kApp[] = "/Applications/Folian.app";
constexpr char kExecutable[] = "/Applications/Folian.app/Contents/MacOS/Folian";
constexpr char kWith[] = "App will be launched with upgrade parameter.";
constexpr char kFallback[] =
    "Some error occured while launching app with upgrade param, Will try to launch App without "
    "upgrade parameter.";
constexpr char kWithout[] = "App will be launched without upgrade parameter.";

class LaunchTest : public TargetAppTest {
 protected:
  bool Launch(const std::string& bundleId, const std::string& workflow) {
    LaunchOperationParams params(bundleId);
    params.workflow = workflow;
    return App().launchTargetApp(params);
  }
};

// A single-client Evergreen installation with "FoliSCA" and the full
// application installed as given. The lines after the URL line: W with the
// upgrade, F the fallback, O without.
struct LaunchRow {
  const char* workflow;
  std::optional<bool> foliSca;
  bool foliInstalled, hasExecutable;
  Start start;
  bool desktopAnswer, result, upgradeStarted, received;
  std::string lines;
};

class LaunchRowTest : public LaunchTest, public ::testing::WithParamInterface<LaunchRow> {};

TEST_P(LaunchRowTest, StartsDirectlyOnlyForASingleClientUpsell) {
  const LaunchRow& row = GetParam();
  const std::string url = InstallSingleClient(row.foliSca, true, row.foliInstalled);
  if (!row.hasExecutable) machine_.bundles[kApp].app.executable = "";
  machine_.start = row.start;
  machine_.openAnswer = row.desktopAnswer;
  EXPECT_EQ(Launch(kId, row.workflow), row.result);
  EXPECT_EQ(machine_.started, row.upgradeStarted ? Lines({kExecutable, "/z"}) : Lines());
  Lines expected = {"Installed app track: Evergreen", "Launching target app",
                    "NSURL found for launch: " + url};
  if (row.received) expected.insert(expected.begin() + 1, "Received workfow as upsell.");
  for (char line : row.lines)
    expected.push_back(line == 'W' ? kWith : line == 'F' ? kFallback : kWithout);
  expected.push_back("Launched target app");
  const Lines lines = log_.lines();
  EXPECT_EQ(Lines(lines.begin() + 4, lines.end()), expected);
  // The desktop is asked exactly when the log says so.
  EXPECT_EQ(machine_.opened, row.lines.back() == 'O' ? Lines({kApp}) : Lines());
}

constexpr Start kPid = Start::kPid;

INSTANTIATE_TEST_SUITE_P(
    Rows, LaunchRowTest,
    ::testing::Values(
        LaunchRow{"upsell", true, false, true, kPid, true, true, true, true, "W"},
        LaunchRow{"upsell", true, true, true, kPid, true, true, false, true, "O"},
        LaunchRow{"upsell", true, false, true, Start::kPlatformError, false, false, true, true,
                  "WFO"},
        LaunchRow{"upsell", true, false, false, kPid, true, true, false, true, "WFO"},
        LaunchRow{"upsell", true, false, true, Start::kMinusOne, true, false, true, true, "W"},
        LaunchRow{"upsell", std::nullopt, false, true, kPid, true, true, false, true, "O"},
        // Not exactly "upsell", and the desktop refusing.
        LaunchRow{"Upsell", true, false, true, kPid, false, false, false, false, "O"}));

TEST_F(LaunchTest, OtherExceptionsFromTheStartAreNotCaught) {
  InstallSingleClient(true, true, false);
  machine_.start = Start::kOtherError;
  EXPECT_THROW(Launch(kId, "upsell"), std::logic_error);
}

TEST_F(LaunchTest, NothingToLaunch) {
  EXPECT_FALSE(Launch("", "upsell"));
  EXPECT_TRUE(log_.lines().empty());
  machine_.Install({"/A.app", std::nullopt});
  EXPECT_FALSE(Launch(kId, "upsell"));
  EXPECT_EQ(log_.lines(), (Lines{"BundleID for getting App URL to launch: com.orvane.Folian.Pro",
                                 "Fetched all PDF Editors successfully"}));
}

}  // namespace
