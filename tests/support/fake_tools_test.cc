#include "tests/support/fake_tools.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <optional>

#include "gtest/gtest.h"
#include "tests/support/scoped_temp_dir.h"

extern char** environ;

namespace {

using Calls = std::vector<std::vector<std::string>>;

struct Outcome {
  int waitStatus = 0;
  std::string out;
  std::string err;
};

// Runs `path` with `arguments`, standard output and error into files, and
// SKIFF_FAKE_TOOL_DIR set to `dataFolder` when given (removed otherwise).
Outcome RunTool(const ScopedTempDir& scratch, const std::string& path,
                const std::vector<std::string>& arguments,
                std::optional<std::string> dataFolder = std::nullopt) {
  std::vector<std::string> strings = {path};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : strings) argv.push_back(text.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    if (std::strncmp(*entry, "SKIFF_FAKE_TOOL_DIR=", 20) != 0) environment.push_back(*entry);
  }
  if (dataFolder) environment.push_back("SKIFF_FAKE_TOOL_DIR=" + *dataFolder);
  std::vector<char*> envp;
  for (std::string& text : environment) envp.push_back(text.data());
  envp.push_back(nullptr);

  const std::string outPath = scratch.path() + "/stdout";
  const std::string errPath = scratch.path() + "/stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = -1;
  const int started = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  Outcome outcome;
  if (started != 0) throw std::runtime_error("cannot start " + path);
  waitpid(pid, &outcome.waitStatus, 0);
  outcome.out = ReadFileOrDie(outPath);
  outcome.err = ReadFileOrDie(errPath);
  return outcome;
}

class FakeToolTest : public ::testing::Test {
 protected:
  ScopedTempDir scratch_;
  ScopedTempDir toolFolder_;
  FakeTools tools_{toolFolder_.path()};
};

TEST_F(FakeToolTest, RecordsEveryCallWithItsArgumentsIntact) {
  const std::string installer = tools_.Install("installer");
  RunTool(scratch_, installer, {"-pkg", "/tmp/a b/Folian Pro.pkg", "", "-target", "/"});
  RunTool(scratch_, installer, {});
  RunTool(scratch_, installer, {"it's \"quoted\"", "tab\there"});
  EXPECT_EQ(tools_.Calls("installer"),
            (Calls{{"-pkg", "/tmp/a b/Folian Pro.pkg", "", "-target", "/"},
                   {},
                   {"it's \"quoted\"", "tab\there"}}));
}

TEST_F(FakeToolTest, KeepsTheRecordsOfEachNameApartAndDefaultsToSilentSuccess) {
  const Outcome outcome = RunTool(scratch_, tools_.Install("pkgutil"), {"--check-signature"});
  ASSERT_TRUE(WIFEXITED(outcome.waitStatus));
  EXPECT_EQ(WEXITSTATUS(outcome.waitStatus), 0);
  EXPECT_EQ(outcome.out + outcome.err, "");
  EXPECT_TRUE(tools_.Calls("installer").empty());
  EXPECT_EQ(tools_.Calls("pkgutil"), (Calls{{"--check-signature"}}));
}

TEST_F(FakeToolTest, WritesItsOutputAndErrorsAndExitsWithItsStatus) {
  const std::string pkgutil = tools_.Install("pkgutil");
  tools_.SetOutput("pkgutil", "Status: signed by a developer certificate\n");
  tools_.SetStderr("pkgutil", "warning\n");
  tools_.SetStatus("pkgutil", 7);
  const Outcome outcome = RunTool(scratch_, pkgutil, {});
  ASSERT_TRUE(WIFEXITED(outcome.waitStatus));
  EXPECT_EQ(WEXITSTATUS(outcome.waitStatus), 7);
  EXPECT_EQ(outcome.out, "Status: signed by a developer certificate\n");
  EXPECT_EQ(outcome.err, "warning\n");
}

TEST_F(FakeToolTest, RepeatsItsOutputExactlyTheGivenNumberOfTimes) {
  const std::string tool = tools_.Install("installer");
  tools_.SetOutput("installer", "installer: 12345 %\n");
  // Not a multiple of the copies that fit in one write.
  tools_.SetRepeat("installer", 100003);
  const Outcome outcome = RunTool(scratch_, tool, {});
  ASSERT_EQ(outcome.out.size(), 100003u * 19u);
  EXPECT_EQ(outcome.out.substr(0, 38), "installer: 12345 %\ninstaller: 12345 %\n");
  EXPECT_EQ(outcome.out.substr(outcome.out.size() - 19), "installer: 12345 %\n");
}

TEST_F(FakeToolTest, SleepsBeforeItEnds) {
  const std::string tool = tools_.Install("installer");
  tools_.SetSleep("installer", std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  RunTool(scratch_, tool, {});
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(FakeToolTest, DiesOfItsSignalStillRecordingTheCall) {
  const std::string tool = tools_.Install("remover");
  tools_.SetSignal("remover", SIGTERM);
  tools_.SetStatus("remover", 3);
  const Outcome outcome = RunTool(scratch_, tool, {"--uninstall"});
  ASSERT_TRUE(WIFSIGNALED(outcome.waitStatus));
  EXPECT_EQ(WTERMSIG(outcome.waitStatus), SIGTERM);
  EXPECT_EQ(tools_.Calls("remover"), (Calls{{"--uninstall"}}));
}

TEST_F(FakeToolTest, TakesItsFilesFromTheFolderTheEnvironmentNames) {
  ScopedTempDir dataFolder;
  FakeTools data(dataFolder.path());
  data.SetStatus("installer", 4);
  tools_.SetStatus("installer", 9);
  const Outcome outcome = RunTool(scratch_, tools_.Install("installer"), {"-x"}, dataFolder.path());
  ASSERT_TRUE(WIFEXITED(outcome.waitStatus));
  EXPECT_EQ(WEXITSTATUS(outcome.waitStatus), 4);
  EXPECT_EQ(data.Calls("installer"), (Calls{{"-x"}}));
  EXPECT_TRUE(tools_.Calls("installer").empty());
}

TEST_F(FakeToolTest, RefusesASettingThatIsNoNumber) {
  const std::string tool = tools_.Install("installer");
  WriteFileOrDie(toolFolder_.path() + "/installer.status", "zero");
  const Outcome outcome = RunTool(scratch_, tool, {});
  ASSERT_TRUE(WIFEXITED(outcome.waitStatus));
  EXPECT_EQ(WEXITSTATUS(outcome.waitStatus), 125);
  EXPECT_NE(outcome.err.find("installer.status"), std::string::npos);
}

}  // namespace
