#include "tests/target/target_app_fixture.h"

namespace {

constexpr char kAsked[] = "BundleID for getting App URL to launch: com.orvane.Folian.Pro";
constexpr char kFetched[] = "Fetched all PDF Editors successfully";

// The "TrackName" of each listed installation ("" for none; "sandbox" for an
// Evergreen copy in the installer's sandbox, "other" for an Evergreen one of
// a longer identifier), the one chosen (-1 for none), the log words of the
// candidates and of the choice.
struct ChoiceRow {
  Lines tracks;
  int chosen;
  Lines candidates;
  std::string word;
};

class TrackChoiceTest : public TargetAppTest, public ::testing::WithParamInterface<ChoiceRow> {};

TEST_P(TrackChoiceTest, ChoosesByTrackThenLastInList) {
  const ChoiceRow& row = GetParam();
  Lines urls;
  Lines expected = {kAsked, kFetched};
  for (size_t i = 0; i < row.tracks.size(); ++i) {
    FakeMachine::Installation app{"/Applications/" + std::to_string(i) + ".app", row.tracks[i]};
    if (row.tracks[i] == "sandbox") app = {"/Library/InstallerSandboxes/S.app"};
    if (row.tracks[i] == "other") app = {"/O.app", kEvergreen, {}, std::string(kId) + ".Beta"};
    if (row.tracks[i].empty()) app.track.reset();
    urls.push_back(machine_.Install(app));
  }
  for (const std::string& word : row.candidates)
    expected.push_back("Found " + word + " track for launch");
  std::optional<std::string> url;
  if (row.chosen >= 0) {
    url = urls[row.chosen];
    expected.push_back("Send " + row.word + " track for launch");
  }
  EXPECT_EQ(App().getAppURLForLaunch(kId), url);
  EXPECT_EQ(App().findAppTrack(kId), url ? row.tracks[row.chosen] : "");
  expected.push_back(kFetched);
  if (url) expected.push_back("Found " + row.word + " track");
  EXPECT_EQ(log_.lines(), expected);
  EXPECT_EQ(App().isEvergreenTrackInstalled(kId), row.word == "Evergreen");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TrackChoiceTest,
    ::testing::Values(
        ChoiceRow{{"Evergreen", "Evergreen"}, 1, {"Evergreen", "Evergreen"}, "Evergreen"},
        ChoiceRow{{"Evergreen", "Preview"}, 0, {"Evergreen", "Preview"}, "Evergreen"},
        ChoiceRow{{"2041", "Nightly"}, 0, {"Fixed", "Nightly"}, "Fixed"},
        ChoiceRow{{"Nightly", "Preview", "2041"}, 1, {"Nightly", "Preview", "Fixed"}, "Preview"},
        ChoiceRow{{"sandbox", "other", "Beta", ""}, -1, {}, ""}));

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
  Lines expected = {kFetched};
  if (*GetParam().line != '\0') expected.insert(expected.begin(), GetParam().line);
  EXPECT_EQ(log_.lines(), expected);
}

constexpr char kRemoveLine[] =
    "findFirstApplication:: Error while trying to remove file(/tmp/me/TempFileForLangPack.pdf), "
    "error: gone";

INSTANTIATE_TEST_SUITE_P(
    Rows, ProbeFileTest,
    ::testing::Values(
        ProbeRow{[](FakeMachine&) {}, true, "lock create list remove unlock ", ""},
        // Without a list the probe file stays for the next call.
        ProbeRow{[](FakeMachine& m) { m.registryAnswers = false; }, false,
                 "lock create list unlock ", ""},
        ProbeRow{[](FakeMachine& m) { m.removeError = "gone"; }, true, "lock create list unlock ",
                 kRemoveLine},
        ProbeRow{[](FakeMachine& m) { m.lockError = "denied"; }, true, "create list remove ",
                 "findFirstApplication:: Unable to lock folder(/tmp/me/), error: denied"},
        ProbeRow{[](FakeMachine& m) { m.canCreate = false; }, false, "lock unlock ", ""},
        ProbeRow{[](FakeMachine& m) { m.folder = ""; }, false, "",
                 "findFirstApplication:: No private temporary folder for the probe file"}));

}  // namespace
