#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/file_url.h"
#include "tests/target/target_app_fixture.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kId[] = "com.orvane.Folian.Pro";

FakeInstallation OnTrack(std::optional<std::string> track) {
  FakeInstallation app;
  app.track = std::move(track);
  return app;
}

// Answers null, as the platform does when it cannot list editors.
class NullRegistry : public ApplicationRegistry {
 public:
  bool CopyEditorApplicationURLs(const std::string&, std::vector<std::string>*) override {
    return false;
  }
};

// Lists one application and takes the probe file away, as a concurrent
// listing by another process would.
class VanishingProbeRegistry : public ApplicationRegistry {
 public:
  explicit VanishingProbeRegistry(std::string probePath) : probePath_(std::move(probePath)) {}
  bool CopyEditorApplicationURLs(const std::string&, std::vector<std::string>* urls) override {
    unlink(probePath_.c_str());
    *urls = {"file:///Applications/Folian.app/"};
    return true;
  }

 private:
  std::string probePath_;
};

using DiscoveryTest = TargetAppTest;

TEST_F(DiscoveryTest, LaterInstallationOfATrackWins) {
  Install(AppsFolder(), "First.app");
  std::string later = Install(UserAppsFolder(), "Second.app");
  EXPECT_EQ(App().getAppURLForLaunch(kId), UrlOf(later));
  EXPECT_EQ(log_.lines(),
            (Lines{std::string("BundleID for getting App URL to launch: ") + kId,
                   "Fetched all PDF Editors successfully", "Found Evergreen track for launch",
                   "Found Evergreen track for launch", "Send Evergreen track for launch"}));
}

TEST_F(DiscoveryTest, FixedTrackIsPreferredToNightly) {
  Install(AppsFolder(), "Nightly.app", OnTrack("Nightly"));
  std::string fixed = Install(UserAppsFolder(), "Fixed.app", OnTrack("2041"));
  EXPECT_EQ(App().getAppURLForLaunch(kId), UrlOf(fixed));
  EXPECT_EQ(log_.lines(),
            (Lines{std::string("BundleID for getting App URL to launch: ") + kId,
                   "Fetched all PDF Editors successfully", "Found Nightly track for launch",
                   "Found Fixed track for launch", "Send Fixed track for launch"}));
}

TEST_F(DiscoveryTest, SandboxCopyIsNeverChosenAndLeavesNoLine) {
  std::string sandboxed = Install(SandboxFolder(), "Sandboxed.app");
  std::string document = temp_.path() + "/tmp/x.pdf";
  WriteFileOrDie(document, "");
  std::vector<std::string> listed;
  ASSERT_TRUE(
      registry_->CopyEditorApplicationURLs(FileUrlStringFromPath(document, false), &listed));
  ASSERT_EQ(listed, (Lines{UrlOf(sandboxed)}));  // the registry does list it
  EXPECT_EQ(App().getAppURLForLaunch(kId), std::nullopt);
  EXPECT_EQ(App().findAppTrack(kId), "");

  std::string preview = Install(AppsFolder(), "Preview.app", OnTrack("Preview"));
  EXPECT_EQ(App().getAppURLForLaunch(kId), UrlOf(preview));
  std::vector<std::string> lines = log_.lines();
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
            (Lines{"Found Preview track for launch", "Send Preview track for launch"}));
  EXPECT_EQ(App().findAppTrack(kId), "Preview");
}

TEST_F(DiscoveryTest, UnknownOrMissingTrackIsNoCandidate) {
  Install(AppsFolder(), "Beta.app", OnTrack("Beta"));
  Install(AppsFolder(), "NoTrack.app", OnTrack(std::nullopt));
  EXPECT_EQ(App().getAppURLForLaunch(kId), std::nullopt);
  EXPECT_EQ(App().findAppTrack(kId), "");
  EXPECT_EQ(log_.lines(), (Lines{std::string("BundleID for getting App URL to launch: ") + kId,
                                 "Fetched all PDF Editors successfully",
                                 "Fetched all PDF Editors successfully"}));
}

TEST_F(DiscoveryTest, IdentifierMustMatchExactly) {
  Install(AppsFolder(), "Folian.app");
  EXPECT_EQ(App().getAppURLForLaunch("com.orvane.folian.pro"), std::nullopt);
  EXPECT_EQ(App().getAppURLForLaunch("com.orvane.Folian"), std::nullopt);
  EXPECT_FALSE(App().isEvergreenTrackInstalled("com.orvane.folian.pro"));
}

TEST_F(DiscoveryTest, EmptyIdentifierListsNothing) {
  Install(AppsFolder(), "Folian.app");
  std::optional<std::string> url = App().getAppURLForLaunch("");
  ASSERT_TRUE(url.has_value());
  EXPECT_EQ(*url, "");
  EXPECT_EQ(App().findAppTrack(""), "");
  EXPECT_FALSE(App().isEvergreenTrackInstalled(""));
  EXPECT_TRUE((log_.lines()).empty());
}

TEST_F(DiscoveryTest, TrackOfChosenInstallationIsLoggedOnceWithoutCandidates) {
  Install(AppsFolder(), "Preview.app", OnTrack("Preview"));
  Install(UserAppsFolder(), "Evergreen.app");
  EXPECT_TRUE(App().isEvergreenTrackInstalled(kId));
  EXPECT_EQ(log_.lines(), (Lines{"Fetched all PDF Editors successfully", "Found Evergreen track"}));
}

TEST_F(DiscoveryTest, PreviewOnlyIsNotEvergreen) {
  Install(AppsFolder(), "Preview.app", OnTrack("Preview"));
  EXPECT_FALSE(App().isEvergreenTrackInstalled(kId));
  EXPECT_EQ(log_.lines().back(), "Found Preview track");
}

TEST_F(DiscoveryTest, InstalledTrackIsReadWithoutCheckingTheName) {
  std::string beta = Install(AppsFolder(), "Beta.app", OnTrack("Beta"));
  std::string none = Install(AppsFolder(), "None.app", OnTrack(std::nullopt));
  EXPECT_EQ(App().getInstalledAppTrack(std::nullopt), "");
  EXPECT_EQ(App().getInstalledAppTrack(UrlOf(beta)), "Beta");
  EXPECT_EQ(App().getInstalledAppTrack(UrlOf(none)), "");
  EXPECT_EQ(App().getInstalledAppTrack(std::string("not a url")), "");
  EXPECT_EQ(log_.lines(),
            (Lines{"Installed app track: Beta", "Unable to get installer app track name",
                   "Unable to get installer app track name"}));
}

TEST_F(DiscoveryTest, NullListLeavesProbeFileAndStillLogs) {
  NullRegistry nullRegistry;
  environment_.registry = &nullRegistry;
  Install(AppsFolder(), "Folian.app");
  std::vector<std::string> urls;
  EXPECT_FALSE(App().findFirstApplication(&urls));
  EXPECT_TRUE(PathExists(ProbePath()));
  EXPECT_EQ(App().getAppURLForLaunch(kId), std::nullopt);  // finds the file already there
  EXPECT_TRUE(PathExists(ProbePath()));
  EXPECT_EQ(log_.lines(), (Lines{"Fetched all PDF Editors successfully",
                                 std::string("BundleID for getting App URL to launch: ") + kId,
                                 "Fetched all PDF Editors successfully"}));
}

TEST_F(DiscoveryTest, FailedRemovalIsLoggedAndListKept) {
  VanishingProbeRegistry registry(ProbePath());
  environment_.registry = &registry;
  std::vector<std::string> urls;
  EXPECT_TRUE(App().findFirstApplication(&urls));
  EXPECT_EQ(urls, (Lines{"file:///Applications/Folian.app/"}));
  EXPECT_EQ(log_.lines(), (Lines{"findFirstApplication:: Error while trying to remove file(" +
                                     ProbePath() + "), error: " + std::strerror(ENOENT),
                                 "Fetched all PDF Editors successfully"}));
}

TEST_F(DiscoveryTest, ParallelListingsAllFindTheProduct) {
  Install(AppsFolder(), "Folian.app");
  std::atomic<int> missed{0};
  std::vector<std::thread> listings;
  for (int i = 0; i < 100; ++i) {
    listings.emplace_back([this, &missed] {
      std::vector<std::string> urls;
      if (!App().findFirstApplication(&urls)) ++missed;
    });
  }
  for (std::thread& listing : listings) listing.join();
  EXPECT_EQ(missed, 0);
}

// What may stand at the probe path or in place of the temporary folder:
// replaced without being followed, or the listing ends without a list.
enum ProbeObstacle { kDanglingLink, kLinkToAFile, kFifo, kEmptyFolder, kFullFolder, kNoFolder };

class ProbeObstacleTest : public TargetAppTest,
                          public ::testing::WithParamInterface<ProbeObstacle> {};

TEST_P(ProbeObstacleTest, IsReplacedOrEndsTheListing) {
  Install(AppsFolder(), "Folian.app");
  const std::string victim = temp_.path() + "/victim.txt";
  const std::string nowhere = temp_.path() + "/nowhere";
  const std::string probe = ProbePath();
  WriteFileOrDie(victim, "precious");
  int planted = 0;
  if (GetParam() == kDanglingLink) planted = symlink(nowhere.c_str(), probe.c_str());
  if (GetParam() == kLinkToAFile) planted = symlink(victim.c_str(), probe.c_str());
  if (GetParam() == kFifo) planted = mkfifo(probe.c_str(), 0666);
  if (GetParam() == kEmptyFolder) MakeDirectoriesOrDie(probe);
  if (GetParam() == kFullFolder) WriteFileOrDie(probe + "/inside", "");
  if (GetParam() == kNoFolder) environment_.temporaryFolder = "";
  ASSERT_EQ(planted, 0);
  std::vector<std::string> urls;
  EXPECT_EQ(App().findFirstApplication(&urls), GetParam() <= kEmptyFolder);
  EXPECT_EQ(PathExists(probe), GetParam() == kFullFolder);
  EXPECT_EQ(ReadFileOrDie(victim), "precious");
  EXPECT_FALSE(PathExists(nowhere));
  EXPECT_EQ(log_.lines().size(), GetParam() == kNoFolder ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(AtTheProbePath, ProbeObstacleTest,
                         ::testing::Values(kDanglingLink, kLinkToAFile, kFifo, kEmptyFolder,
                                           kFullFolder, kNoFolder));

TEST_F(DiscoveryTest, AMissingTemporaryFolderMeansNoListAndSaysWhy) {
  environment_.temporaryFolder = temp_.path() + "/missing/";
  std::vector<std::string> urls;
  EXPECT_FALSE(App().findFirstApplication(&urls));
  EXPECT_EQ(log_.lines(),
            (Lines{"findFirstApplication:: Unable to lock folder(" + environment_.temporaryFolder +
                       "), error: " + std::strerror(ENOENT),
                   "Fetched all PDF Editors successfully"}));
}

}  // namespace
