#include "log/installer_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace {

class InstallerLogTest : public ::testing::Test {
 protected:
  // Every test runs under the most permissive creation mask.
  void SetUp() override { savedMask_ = umask(0); }
  void TearDown() override { umask(savedMask_); }

  std::string LogDirectory() const { return temp_.path() + "/Logs/Orvane/Installers/"; }
  std::string LogPath() const { return LogDirectory() + "FLNXInstaller.log"; }

  std::vector<std::string> Lines() const {
    std::istringstream in(ReadFileOrDie(LogPath()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::vector<std::string> Backups() const {
    std::vector<std::string> backups;
    for (const auto& entry : fs::directory_iterator(LogDirectory())) {
      const std::string name = entry.path().filename().string();
      if (name != "FLNXInstaller.log") backups.push_back(entry.path().string());
    }
    return backups;
  }

  ScopedTempDir temp_;
  mode_t savedMask_ = 0;
};

fs::perms ModeOf(const std::string& path) {
  return fs::status(path).permissions() & fs::perms::all;
}

const std::regex kPrefixedLine(R"(\[\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}\] (.*))");

TEST_F(InstallerLogTest, FirstRunCreatesTheFolderChainAndWritesNoSeparator) {
  {
    InstallerLog log(temp_.path());
    ASSERT_TRUE(log.IsOpen());
    log.Log("Skiff has launched");
    // A line of a later second carries its own time.
    const std::time_t first = std::time(nullptr);
    while (std::time(nullptr) == first) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    log.Log("later");
  }
  for (const std::string folder : {"/Logs", "/Logs/Orvane", "/Logs/Orvane/Installers"})
    EXPECT_EQ(ModeOf(temp_.path() + folder), fs::perms(0755)) << folder;
  EXPECT_EQ(ModeOf(LogPath()), fs::perms(0644));
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, kPrefixedLine)) << lines[0];
  EXPECT_EQ(match[1], "Skiff has launched");
  EXPECT_EQ(lines[1].substr(22), "later");
  EXPECT_NE(lines[1].substr(0, 22), lines[0].substr(0, 22));
}

TEST_F(InstallerLogTest, LaterRunsStartWithTheSeparatorOnALineOfItsOwn) {
  { InstallerLog(temp_.path()).Log("first"); }
  { InstallerLog(temp_.path()).Log("second"); }
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "/****************************************************/");
  EXPECT_EQ(lines[1].size(), 54u);
  EXPECT_TRUE(std::regex_match(lines[2], kPrefixedLine));
}

TEST_F(InstallerLogTest, AnEmptyExistingLogGetsTheSeparatorFirst) {
  WriteFileOrDie(LogPath(), "");
  { InstallerLog(temp_.path()).Log("line"); }
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], kRunSeparator);
}

TEST_F(InstallerLogTest, ALogAtTheLimitIsAppendedTo) {
  WriteFileOrDie(LogPath(), std::string(kMaxLogSizeBytes, 'x'));
  { InstallerLog(temp_.path()).Log("after"); }
  EXPECT_TRUE(Backups().empty());
  EXPECT_GT(fs::file_size(LogPath()), kMaxLogSizeBytes);
}

TEST_F(InstallerLogTest, ALogOneByteOverTheLimitMovesToATimestampedBackupWhole) {
  const std::string old(kMaxLogSizeBytes + 1, 'y');
  WriteFileOrDie(LogPath(), old);
  { InstallerLog(temp_.path()).Log("fresh"); }

  const auto backups = Backups();
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_TRUE(
      std::regex_match(fs::path(backups[0]).filename().string(),
                       std::regex(R"(\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}_FLNXInstaller\.log)")));
  EXPECT_EQ(ReadFileOrDie(backups[0]), old);
  EXPECT_EQ(ModeOf(LogPath()), fs::perms(0644));
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u) << "the restarted log holds no separator";
  EXPECT_TRUE(std::regex_match(lines[0], kPrefixedLine));
}

TEST_F(InstallerLogTest, ATakenBackupNameIsNeitherReplacedNorFollowed) {
  const std::string old(kMaxLogSizeBytes + 1, 'z');
  WriteFileOrDie(LogPath(), old);
  // Occupy every backup name the next few seconds could produce with a link
  // to an earlier backup.
  std::vector<std::string> planted;
  const std::time_t now = std::time(nullptr);
  for (int offset = 0; offset < 5; ++offset) {
    std::time_t when = now + offset;
    std::tm local;
    localtime_r(&when, &local);
    char name[64];
    std::strftime(name, sizeof(name), "%Y-%m-%d_%H-%M-%S_FLNXInstaller.log", &local);
    planted.push_back(temp_.path() + "/" + name);
    WriteFileOrDie(planted.back(), "earlier backup");
    ASSERT_EQ(symlink(planted.back().c_str(), (LogDirectory() + name).c_str()), 0);
  }
  { InstallerLog(temp_.path()).Log("line"); }
  for (const auto& path : planted) EXPECT_EQ(ReadFileOrDie(path), "earlier backup");
  EXPECT_EQ(Backups().size(), planted.size());
  // The old log was kept in place and appended to.
  EXPECT_EQ(ReadFileOrDie(LogPath()).substr(0, old.size()), old);
}

// Something other than a log file of its own at a log path: the run goes on
// without a log, writes nowhere and never hangs.
enum Obstacle { kFileForTheFolder, kLinkToAFile, kDanglingLink, kSecondHardLink, kFifo };

class ObstacleTest : public InstallerLogTest, public ::testing::WithParamInterface<Obstacle> {};

TEST_P(ObstacleTest, LeavesTheLogClosedAndWritesNothing) {
  const Obstacle obstacle = GetParam();
  const bool inFolder = obstacle != kFileForTheFolder;
  const std::string victim = temp_.path() + (inFolder ? "/victim" : "/Logs");
  const std::string nowhere = temp_.path() + "/nowhere";
  WriteFileOrDie(victim, "keep");
  if (inFolder) MakeDirectoriesOrDie(LogDirectory());
  int planted = 0;
  if (obstacle == kLinkToAFile) planted = symlink(victim.c_str(), LogPath().c_str());
  if (obstacle == kDanglingLink) planted = symlink(nowhere.c_str(), LogPath().c_str());
  if (obstacle == kSecondHardLink) planted = link(victim.c_str(), LogPath().c_str());
  // Opened for writing without a reader, a FIFO would block for good.
  if (obstacle == kFifo) planted = mkfifo(LogPath().c_str(), 0666);
  ASSERT_EQ(planted, 0);
  InstallerLog log(temp_.path());
  EXPECT_FALSE(log.IsOpen());
  log.Log("dropped");
  EXPECT_EQ(ReadFileOrDie(victim), "keep");
  EXPECT_FALSE(PathExists(nowhere));
}

INSTANTIATE_TEST_SUITE_P(AtTheLogPath, ObstacleTest,
                         ::testing::Values(kFileForTheFolder, kLinkToAFile, kDanglingLink,
                                           kSecondHardLink, kFifo));

// Runs crossing the size limit together, each writing from two threads: one
// run moves the old log aside whole, and every line lands once, whole.
TEST_F(InstallerLogTest, ParallelRunsKeepEveryLineWhole) {
  constexpr int kRuns = 20, kLinesPerRun = 50;
  const std::string old(kMaxLogSizeBytes + 1, 'o');
  WriteFileOrDie(LogPath(), old);
  int start[2];  // the runs start together when its writing end closes
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> runs;
  for (int run = 0; run < kRuns; ++run) {
    runs.push_back(fork());
    if (runs.back() != 0) continue;
    close(start[1]);
    char byte;
    if (read(start[0], &byte, 1) != 0) _exit(1);
    InstallerLog log(temp_.path());
    // Every fifth line is longer than a stdio buffer, and than the log copies.
    auto writer = [&log, run](int first) {
      for (int i = first; i < kLinesPerRun; i += 2)
        log.Log(std::to_string(run) + ":" + std::to_string(i) + ":" +
                std::string(i % 5 == 0 ? 70000 : 60, 'a' + run));
    };
    std::thread odd(writer, 1);
    writer(0);
    odd.join();
    _exit(log.IsOpen() ? 0 : 1);
  }
  close(start[0]);
  close(start[1]);
  for (pid_t pid : runs) {
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::map<std::string, int> seen;
  int wholeOldLogs = 0;
  std::vector<std::string> files = Backups();
  files.push_back(LogPath());
  for (const std::string& file : files) {
    std::string text = ReadFileOrDie(file);
    if (text.compare(0, old.size(), old) == 0) ++wholeOldLogs, text.erase(0, old.size());
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (line == kRunSeparator) continue;
      // Only the prefix goes through the regex, whose matching recurses per byte.
      ASSERT_TRUE(std::regex_match(line.substr(0, 22), kPrefixedLine)) << line.substr(0, 80);
      const std::string body = line.substr(22);
      const size_t tail = body.rfind(':') + 1;
      ASSERT_EQ(body.find_first_not_of('a' + std::stoi(body), tail), std::string::npos) << body;
      ++seen[body.substr(0, tail)];
    }
  }
  EXPECT_EQ(wholeOldLogs, 1);
  EXPECT_EQ(seen.size(), static_cast<size_t>(kRuns * kLinesPerRun));
  for (const auto& [line, count] : seen) EXPECT_EQ(count, 1) << line;
}

TEST(EnsureDirectoryExistsTest, ReportsCreationOnlyForMissingFolders) {
  ScopedTempDir temp;
  const std::string nested = temp.path() + "/a/b/c";
  EXPECT_TRUE(EnsureDirectoryExists(nested));
  EXPECT_FALSE(EnsureDirectoryExists(nested));
  WriteFileOrDie(temp.path() + "/file", "");
  EXPECT_FALSE(EnsureDirectoryExists(temp.path() + "/file/below"));
}

}  // namespace
