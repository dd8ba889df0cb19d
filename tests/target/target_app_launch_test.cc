#include "tests/target/target_app_fixture.h"

namespace {

using Start = FakeMachine::Start;

constexpr char kProbe[] = "lock create list remove unlock ";
constexpr char kStart[] = "start /Applications/Folian.app/Contents/MacOS/Folian /z ";
constexpr char kWith[] = "App will be launched with upgrade parameter.";
constexpr char kFallback[] =
    "Some error occured while launching app with upgrade param, Will try to launch App without "
    "upgrade parameter.";
constexpr char kWithout[] = "App will be launched without upgrade parameter.";

// A single-client Evergreen installation with "FoliSCA" and the full
// application installed as given. The lines after the URL line: W with the
// upgrade, F the fallback, O without.
struct LaunchRow {
  const char* workflow;
  std::optional<bool> foliSca;
  bool foliInstalled, hasExecutable;
  Start start;
  bool desktopAnswer, result, upgradeStarted;
  std::string lines;
};

class LaunchRowTest : public TargetAppTest, public ::testing::WithParamInterface<LaunchRow> {};

TEST_P(LaunchRowTest, StartsDirectlyOnlyForASingleClientUpsell) {
  const LaunchRow& row = GetParam();
  FakeMachine::Installation app{kApp, kEvergreen, {row.foliSca, true, row.foliInstalled}};
  if (!row.hasExecutable) app.executable = "";
  const std::string url = machine_.Install(app);
  machine_.start = row.start;
  machine_.openAnswer = row.desktopAnswer;
  LaunchOperationParams params(kId);
  params.workflow = row.workflow;
  EXPECT_EQ(App().launchTargetApp(params), row.result);
  Lines expected = {"Installed app track: Evergreen", "Launching target app",
                    "NSURL found for launch: " + url};
  if (row.workflow == std::string("upsell"))
    expected.insert(expected.begin() + 1, "Received workfow as upsell.");
  for (char line : row.lines)
    expected.push_back(line == 'W' ? kWith : line == 'F' ? kFallback : kWithout);
  expected.push_back("Launched target app");
  const Lines lines = log_.lines();
  EXPECT_EQ(Lines(lines.begin() + 4, lines.end()), expected);
  // The desktop is asked exactly when the log says so.
  EXPECT_EQ(machine_.calls, kProbe + std::string(row.upgradeStarted ? kStart : "") +
                                (row.lines.back() == 'O' ? "open /Applications/Folian.app " : ""));
}

constexpr Start kPid = Start::kPid;

INSTANTIATE_TEST_SUITE_P(
    Rows, LaunchRowTest,
    ::testing::Values(
        LaunchRow{"upsell", true, false, true, kPid, true, true, true, "W"},
        LaunchRow{"upsell", true, true, true, kPid, true, true, false, "O"},
        LaunchRow{"upsell", true, false, true, Start::kPlatformError, false, false, true, "WFO"},
        LaunchRow{"upsell", true, false, false, kPid, true, true, false, "WFO"},
        LaunchRow{"upsell", true, false, true, Start::kMinusOne, true, false, true, "W"},
        LaunchRow{"upsell", std::nullopt, false, true, kPid, true, true, false, "O"},
        // Not exactly "upsell", and the desktop refusing.
        LaunchRow{"Upsell", true, false, true, kPid, false, false, false, "O"}));

TEST_F(TargetAppTest, OtherExceptionsFromTheStartAreNotCaught) {
  machine_.Install({kApp, kEvergreen, {true, true, false}});
  machine_.start = Start::kOtherError;
  LaunchOperationParams params(kId);
  params.workflow = "upsell";
  EXPECT_THROW(App().launchTargetApp(params), std::logic_error);
}

TEST_F(TargetAppTest, NothingToLaunch) {
  EXPECT_FALSE(App().launchTargetApp(LaunchOperationParams("")));
  EXPECT_TRUE(log_.lines().empty());
  machine_.Install({"/A.app", std::nullopt});
  EXPECT_FALSE(App().launchTargetApp(LaunchOperationParams(kId)));
}

}  // namespace
