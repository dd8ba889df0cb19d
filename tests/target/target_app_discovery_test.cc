// Finding the installations by release track and launching the chosen one.
#include "tests/target/target_app_fixture.h"

namespace {

constexpr char kFetched[] = "Fetched all PDF Editors successfully";
constexpr char kProbe[] = "lock create list remove unlock ";  // the machine's calls

// The installations listed, the one chosen (-1 for none) and the log words of
// the candidates; where one is chosen, every listed one is a candidate.
struct ChoiceRow {
  std::vector<FakeMachine::Installation> apps;
  int chosen;
  Lines candidates;
};

class TrackChoiceTest : public TargetAppTest, public ::testing::WithParamInterface<ChoiceRow> {};

TEST_P(TrackChoiceTest, ChoosesByTrackThenLastInList) {
  const ChoiceRow& row = GetParam();
  const std::string word = row.chosen >= 0 ? row.candidates[row.chosen] : "";
  Lines expected = {"BundleID for getting App URL to launch: com.orvane.Folian.Pro", kFetched};
  for (const FakeMachine::Installation& app : row.apps) machine_.Install(app);
  for (const std::string& candidate : row.candidates)
    expected.push_back("Found " + candidate + " track for launch");
  std::optional<std::string> url;
  if (row.chosen >= 0) {
    url = machine_.listed[row.chosen];
    expected.push_back("Send " + word + " track for launch");
  }
  EXPECT_EQ(App().getAppURLForLaunch(kId), url);
  EXPECT_EQ(App().findAppTrack(kId), url ? *row.apps[row.chosen].track : "");
  expected.push_back(kFetched);
  if (url) expected.push_back("Found " + word + " track");
  EXPECT_EQ(log_.lines(), expected);
  EXPECT_EQ(App().isEvergreenTrackInstalled(kId), word == "Evergreen");
}

// An Evergreen installation of a longer identifier.
const FakeMachine::Installation kLonger = {"/O", kEvergreen, {}, std::string(kId) + ".Beta"};

INSTANTIATE_TEST_SUITE_P(
    Rows, TrackChoiceTest,
    ::testing::Values(ChoiceRow{{{"/A"}, {"/B"}}, 1, {"Evergreen", "Evergreen"}},
                      ChoiceRow{{{"/A"}, {"/B", "Preview"}}, 0, {"Evergreen", "Preview"}},
                      ChoiceRow{{{"/A", "2041"}, {"/B", "Preview"}}, 1, {"Fixed", "Preview"}},
                      ChoiceRow{{{"/A", "2041"}, {"/B", "Nightly"}}, 0, {"Fixed", "Nightly"}},
                      // Neither an Evergreen copy in the installer's sandbox nor one of a
                      // longer identifier, an unknown track or none counts.
                      ChoiceRow{{{"/Library/InstallerSandboxes/S"}, kLonger}, -1},
                      ChoiceRow{{{"/A", "Beta"}, {"/B", std::nullopt}}, -1}));

TEST_F(TargetAppTest, AnEmptyIdentifierListsNothing) {
  machine_.Install({});
  EXPECT_EQ(App().getAppURLForLaunch(""), std::optional<std::string>(""));
  EXPECT_EQ(App().findAppTrack(""), "");
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(TargetAppTest, TheInstalledTrackIsReadWithoutCheckingTheName) {
  const std::string beta = machine_.Install({"/A.app", "Beta"});
  const std::string none = machine_.Install({"/B.app", std::nullopt});
  EXPECT_EQ(App().getInstalledAppTrack(std::nullopt), "");
  EXPECT_EQ(App().getInstalledAppTrack(beta), "Beta");
  EXPECT_EQ(App().getInstalledAppTrack(none), "");
  EXPECT_EQ(log_.lines(),
            (Lines{"Installed app track: Beta", "Unable to get installer app track name"}));
}

struct ProbeRow {
  void (*setUp)(FakeMachine&);
  bool listed;
  const char* steps;
  const char* line;  // before the closing one; "" for none
};

class ProbeFileTest : public TargetAppTest, public ::testing::WithParamInterface<ProbeRow> {};

TEST_P(ProbeFileTest, IsMadeQueriedAndRemovedUnderTheFolderLock) {
  machine_.Install({});
  GetParam().setUp(machine_);
  Lines urls;
  EXPECT_EQ(App().findFirstApplication(&urls), GetParam().listed);
  EXPECT_EQ(urls, GetParam().listed ? machine_.listed : Lines());
  EXPECT_EQ(machine_.calls, GetParam().steps);
  EXPECT_EQ(log_.lines(), (*GetParam().line ? Lines{GetParam().line, kFetched} : Lines{kFetched}));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProbeFileTest,
    ::testing::Values(
        ProbeRow{[](FakeMachine&) {}, true, kProbe, ""},
        // Without a list the probe file stays for the next call.
        ProbeRow{[](FakeMachine& m) { m.registryAnswers = false; }, false,
                 "lock create list unlock ", ""},
        ProbeRow{[](FakeMachine& m) { m.removeError = "gone"; }, true, "lock create list unlock ",
                 "findFirstApplication:: Error while trying to remove "
                 "file(/tmp/me/TempFileForLangPack.pdf), error: gone"},
        ProbeRow{[](FakeMachine& m) { m.lockError = "denied"; }, true, "create list remove ",
                 "findFirstApplication:: Unable to lock folder(/tmp/me/), error: denied"},
        ProbeRow{[](FakeMachine& m) { m.canCreate = false; }, false, "lock unlock ", ""},
        ProbeRow{[](FakeMachine& m) { m.folder = ""; }, false, "",
                 "findFirstApplication:: No private temporary folder for the probe file"}));

using Start = FakeMachine::Start;

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

INSTANTIATE_TEST_SUITE_P(
    Rows, LaunchRowTest,
    ::testing::Values(
        LaunchRow{"upsell", true, false, true, Start::kPid, true, true, true, "W"},
        LaunchRow{"upsell", true, true, true, Start::kPid, true, true, false, "O"},
        LaunchRow{"upsell", true, false, true, Start::kPlatformError, false, false, true, "WFO"},
        LaunchRow{"upsell", true, false, false, Start::kPid, true, true, false, "WFO"},
        LaunchRow{"upsell", true, false, true, Start::kMinusOne, true, false, true, "W"},
        LaunchRow{"upsell", std::nullopt, false, true, Start::kPid, true, true, false, "O"},
        // Not exactly "upsell", and the desktop refusing.
        LaunchRow{"Upsell", true, false, true, Start::kPid, false, false, false, "O"}));

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
