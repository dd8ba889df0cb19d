#include "log/installer_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
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
  }
  for (const std::string folder : {"/Logs", "/Logs/Orvane", "/Logs/Orvane/Installers"})
    EXPECT_EQ(ModeOf(temp_.path() + folder), fs::perms(0755)) << folder;
  EXPECT_EQ(ModeOf(LogPath()), fs::perms(0644));
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, kPrefixedLine)) << lines[0];
  EXPECT_EQ(match[1], "Skiff has launched");
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
// without a log and writes nowhere.
struct Obstacle {
  const char* name;
  // Puts the obstacle below the temporary root `root`; returns the file that
  // must keep its contents "keep" (or must not come to exist).
  std::function<std::string(const std::string& root, const std::string& logPath)> plant;
};

void PrintTo(const Obstacle& obstacle, std::ostream* out) { *out << obstacle.name; }

class ObstacleTest : public InstallerLogTest, public ::testing::WithParamInterface<Obstacle> {};

TEST_P(ObstacleTest, LeavesTheLogClosedAndWritesNothing) {
  const std::string victim = GetParam().plant(temp_.path(), LogPath());
  const bool existed = PathExists(victim);
  InstallerLog log(temp_.path());
  EXPECT_FALSE(log.IsOpen());
  log.Log("dropped");
  if (existed) {
    EXPECT_EQ(ReadFileOrDie(victim), "keep");
  } else {
    EXPECT_FALSE(PathExists(victim));
  }
}

std::string Victim(const std::string& root) {
  WriteFileOrDie(root + "/victim", "keep");
  return root + "/victim";
}

INSTANTIATE_TEST_SUITE_P(
    AtTheLogPath, ObstacleTest,
    ::testing::Values(Obstacle{"FileInPlaceOfTheFolder",
                               [](const std::string& root, const std::string&) {
                                 WriteFileOrDie(root + "/Logs", "keep");
                                 return root + "/Logs";
                               }},
                      Obstacle{"LinkToAFile",
                               [](const std::string& root, const std::string& logPath) {
                                 MakeDirectoriesOrDie(fs::path(logPath).parent_path());
                                 EXPECT_EQ(symlink(Victim(root).c_str(), logPath.c_str()), 0);
                                 return root + "/victim";
                               }},
                      Obstacle{"DanglingLink",
                               [](const std::string& root, const std::string& logPath) {
                                 MakeDirectoriesOrDie(fs::path(logPath).parent_path());
                                 EXPECT_EQ(symlink((root + "/nowhere").c_str(), logPath.c_str()),
                                           0);
                                 return root + "/nowhere";
                               }},
                      Obstacle{"SecondHardLink",
                               [](const std::string& root, const std::string& logPath) {
                                 MakeDirectoriesOrDie(fs::path(logPath).parent_path());
                                 EXPECT_EQ(link(Victim(root).c_str(), logPath.c_str()), 0);
                                 return root + "/victim";
                               }},
                      // Opening a FIFO without a reader for writing would block for good.
                      Obstacle{"Fifo",
                               [](const std::string&, const std::string& logPath) {
                                 MakeDirectoriesOrDie(fs::path(logPath).parent_path());
                                 EXPECT_EQ(mkfifo(logPath.c_str(), 0666), 0);
                                 return logPath + ".never";
                               }}),
    [](const ::testing::TestParamInfo<Obstacle>& info) { return std::string(info.param.name); });

// Separate processes crossing the size limit together: one moves the old log
// aside whole, and every line of every run lands exactly once, untorn.
TEST_F(InstallerLogTest, ParallelRunsCrossingTheLimitKeepEveryLine) {
  constexpr int kRuns = 20;
  constexpr int kLinesPerRun = 50;
  const std::string old(kMaxLogSizeBytes + 1, 'o');
  WriteFileOrDie(LogPath(), old);
  // The runs wait for the end of this pipe to close, so they start together.
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> runs;
  for (int run = 0; run < kRuns; ++run) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(start[1]);
      char byte;
      if (read(start[0], &byte, 1) != 0) _exit(1);
      InstallerLog log(temp_.path());
      // Every fifth line is longer than a stdio buffer.
      for (int i = 0; i < kLinesPerRun; ++i)
        log.Log(std::to_string(run) + ":" + std::to_string(i) + ":" +
                std::string(i % 5 == 0 ? 9000 : 60, 'a' + run));
      _exit(log.IsOpen() ? 0 : 1);
    }
    runs.push_back(pid);
  }
  close(start[0]);
  close(start[1]);
  for (pid_t pid : runs) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::map<std::string, int> seen;
  int wholeOldLogs = 0;
  std::vector<std::string> files = Backups();
  files.push_back(LogPath());
  for (const std::string& file : files) {
    std::string text = ReadFileOrDie(file);
    if (text.compare(0, old.size(), old) == 0) {
      ++wholeOldLogs;
      text.erase(0, old.size());
    }
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (line == kRunSeparator) continue;
      std::smatch match;
      ASSERT_TRUE(std::regex_match(line, match, kPrefixedLine)) << line.substr(0, 200);
      const std::string body = match[1];
      const size_t colon = body.find(':', body.find(':') + 1);
      const int run = std::stoi(body);
      ASSERT_TRUE(body.substr(colon + 1) == std::string(body.size() - colon - 1, 'a' + run))
          << "torn: " << body.substr(0, 40);
      ++seen[body.substr(0, colon)];
    }
  }
  EXPECT_EQ(wholeOldLogs, 1);
  ASSERT_EQ(seen.size(), static_cast<size_t>(kRuns * kLinesPerRun));
  for (const auto& [line, count] : seen) EXPECT_EQ(count, 1) << line;
}

TEST_F(InstallerLogTest, TwoThreadsWriteWholeLinesEachWithItsPrefix) {
  constexpr int kLinesPerThread = 2000;
  {
    InstallerLog log(temp_.path());
    auto writer = [&log](char letter) {
      for (int i = 0; i < kLinesPerThread; ++i) log.Log(std::string(100, letter));
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
  }
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u * kLinesPerThread);
  int countA = 0;
  for (const auto& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, kPrefixedLine)) << line;
    const std::string body = match[1];
    ASSERT_TRUE(body == std::string(100, 'a') || body == std::string(100, 'b')) << body;
    countA += body[0] == 'a';
  }
  EXPECT_EQ(countA, kLinesPerThread);
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
