// install runs against hosts that misbehave, and against pipe paths that are
// not what they should be: each ends as the channel's rules say, with the log
// telling what happened.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/signature_report_text.h"
#include "tests/support/skiff_root.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr char kProxyPath[] = "/tmp/proxy.xml";
constexpr char kInPipe[] = "/tmp/skiff-e2e_IN";
constexpr char kOutPipe[] = "/tmp/skiff-e2e_OUT";

class HostTest : public ::testing::Test {
 protected:
  HostTest() {
    root_.Tools().SetOutput("pkgutil", SignatureReportText());
    root_.WriteFile(kProxyPath, InstallProxyDocument("a.pkg"));
    root_.WriteFile(SkiffRoot::kInputPath, DeploymentDocument({{"installSourcePath", "/tmp/src"},
                                                               {"proxyFile", kProxyPath}}));
  }

  SkiffResult Install(const std::vector<std::string>& hostOptions,
                      std::chrono::milliseconds timeout = SkiffRoot::kDefaultTimeout) {
    return root_.RunHost("install", hostOptions, SkiffRoot::kInputPath, timeout);
  }

  size_t CountLines(const std::string& text) {
    const auto lines = root_.LastRunLogLines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
  }

  SkiffRoot root_;
};

struct MisbehaviourCase {
  const char* name;
  std::vector<std::string> hostOptions;
  int installerMs;
  // Lines of the host's output, in order.
  std::string shown;
  // Log lines, in order, before the exit line.
  std::vector<std::string> logged;
  friend void PrintTo(const MisbehaviourCase& value, std::ostream* out) { *out << value.name; }
};

class MisbehaviourTest : public HostTest, public ::testing::WithParamInterface<MisbehaviourCase> {};

TEST_P(MisbehaviourTest, TheRunEndsNormallyAtTheFirstTerminate) {
  root_.Tools().SetSleep("installer", std::chrono::milliseconds(GetParam().installerMs));
  const SkiffResult result = Install(GetParam().hostOptions);
  EXPECT_EQ(result.exitCode, 0) << result.Describe();
  EXPECT_THAT(result.stdoutText, HasSubstr(GetParam().shown));
  std::vector<std::string> logged = GetParam().logged;
  logged.push_back("Skiff exited with error code: 0");
  EXPECT_EQ(FirstMissingInOrder(root_.LastRunLogLines(), logged), "");
  EXPECT_EQ(CountLines("Terminate pkt received"), 1u);
}

const std::vector<std::string> kCompleteThenTerminate = {"Operation complete",
                                                         "Terminate pkt received"};

INSTANTIATE_TEST_SUITE_P(
    Hosts, MisbehaviourTest,
    ::testing::Values(MisbehaviourCase{"EarlyTerminateStillGetsEveryPacket",
                                       {"--terminate-at-once"},
                                       1500,
                                       "progress 10\nprogress 100\n",
                                       kCompleteThenTerminate},
                      MisbehaviourCase{"ClosingAfterTheFirstPacketEndsTheWait",
                                       {"--close-after=1"},
                                       1500,
                                       "progress 100\n",
                                       kCompleteThenTerminate},
                      MisbehaviourCase{
                          "UnusualIdsAreLoggedAndSkipped",
                          {"--send-ids=0,10,18,77"},
                          0,
                          "progress 100\n",
                          {"Operation complete", "CB_Pkt_Invalid packetID", "CB_Pkt_Error packetID",
                           "CB_Pkt_Errors packetID", "Terminate pkt received"}},
                      MisbehaviourCase{"LateAnswerIsWaitedFor",
                                       {"--answer-late=1500"},
                                       0,
                                       "progress 100\n",
                                       kCompleteThenTerminate},
                      // About 120 MB while the installer runs, which the full queue drops.
                      MisbehaviourCase{"FloodOfTheLargestPackets",
                                       {"--flood=300", "--terminate-at-once"},
                                       4000,
                                       "progress 100\n",
                                       kCompleteThenTerminate}),
    [](const ::testing::TestParamInfo<MisbehaviourCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(HostTest, WithoutAHostSkiffGivesUpAfterAMinuteAndRunsNothing) {
  const SkiffResult result = Install({"--never-connect"}, std::chrono::seconds(120));
  EXPECT_EQ(result.exitCode, 38) << result.Describe();
  EXPECT_THAT(root_.Tools().Calls("pkgutil"), IsEmpty());
  const auto lines = root_.LastRunLogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(
      FirstMissingInOrder(lines, {"In Do Operation", "Not able to init comm bridge bailing out",
                                  "Skiff exited with error code: 38"}),
      "");
  EXPECT_THAT(lines, Not(Contains("Thread created")));
}

struct PipePathCase {
  const char* name;
  std::string pipeName;
  // Puts something other than a lone FIFO where skiff looks for its pipes.
  void (*plant)(SkiffRoot& root);
  friend void PrintTo(const PipePathCase& value, std::ostream* out) { *out << value.name; }
};

class PipePathTest : public HostTest, public ::testing::WithParamInterface<PipePathCase> {};

// skiff runs alone: a refused pipe path must end the run before any host
// would be waited for, and so before anything is written to the pipes.
TEST_P(PipePathTest, IsRefusedBeforeAnythingRuns) {
  GetParam().plant(root_);
  const SkiffResult result = root_.RunMode("install", SkiffRoot::kInputPath, SkiffRoot::kOutputPath,
                                           GetParam().pipeName, std::chrono::seconds(20));
  EXPECT_EQ(result.exitCode, 38) << result.Describe();
  EXPECT_THAT(root_.LastRunLogLines(), Contains("Not able to init comm bridge bailing out"));
  EXPECT_THAT(root_.Tools().Calls("pkgutil"), IsEmpty());
  EXPECT_FALSE(root_.Exists("/Library/X_IN"));
}

INSTANTIATE_TEST_SUITE_P(
    Planted, PipePathTest,
    ::testing::Values(PipePathCase{"SymbolicLinkAtIn", SkiffRoot::kPipeName,
                                   [](SkiffRoot& root) {
                                     ASSERT_EQ(
                                         symlink("/tmp/target", root.HostPath(kInPipe).c_str()), 0);
                                   }},
                      PipePathCase{"DirectoryAtIn", SkiffRoot::kPipeName,
                                   [](SkiffRoot& root) { root.MakeDirectories(kInPipe); }},
                      PipePathCase{"EmptyRegularFileAtIn", SkiffRoot::kPipeName,
                                   [](SkiffRoot& root) { root.WriteFile(kInPipe, ""); }},
                      PipePathCase{"NameClimbingOutOfTmp", "../Library/X", [](SkiffRoot&) {}}),
    [](const ::testing::TestParamInfo<PipePathCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(HostTest, PipesMadeBySkiffAreOpenToEveryLocalUser) {
  root_.RunHost("install");
  struct stat status {};
  ASSERT_EQ(stat(root_.HostPath(kInPipe).c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  EXPECT_EQ(status.st_mode & 0777, 0666u);
}

}  // namespace
