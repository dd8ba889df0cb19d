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
#include <tuple>
#include <vector>

#include "tests/support/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace {

const std::regex kPrefixedLine(R"(\[\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}\] (.*)\n?)");
const std::regex kBackupName(R"(\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}_FLNXInstaller\.log)");
constexpr char kSeparatorLine[] = "/****************************************************/\n";

fs::perms ModeOf(const std::string& path) {
  return fs::symlink_status(path).permissions() & fs::perms::all;
}

// Every test runs under the most permissive creation mask.
class InstallerLogTest : public ::testing::Test {
 protected:
  void SetUp() override { savedMask_ = umask(0); }
  void TearDown() override { umask(savedMask_); }

  std::string Folder() const { return library_ + "/Logs/Orvane/Installers/"; }
  std::string LogPath() const { return Folder() + "FLNXInstaller.log"; }
  std::vector<std::string> Backups() const {
    std::vector<std::string> backups;
    for (const auto& entry : fs::directory_iterator(Folder()))
      if (entry.path().filename() != "FLNXInstaller.log") backups.push_back(entry.path());
    return backups;
  }

  ScopedTempDir temp_;
  std::string library_ = temp_.path();
  mode_t savedMask_ = 0;
};

// A run finding no log, an empty one, one at the size limit or one a byte over
// it: the separator starts the run in a log already there, and an oversized
// log moves whole to a backup named after the current second.
TEST_F(InstallerLogTest, ARunStartsByTheLogItFinds) {
  // The size of the log found (-1: none), whether a separator and whether a rotation follow.
  const std::tuple<long long, bool, bool> kRows[] = {
      {-1, false, false}, {0, true, false}, {10485760, true, false}, {10485761, false, true}};
  for (const auto& [size, separator, rotated] : kRows) {
    ScopedTempDir library;
    library_ = library.path();
    const std::string old = size > 0 ? std::string(size - 1, 'x') + "\n" : "";
    if (size >= 0) WriteFileOrDie(LogPath(), old);
    { InstallerLog(library_).Log("line"); }
    const std::string head = (rotated ? "" : old) + (separator ? kSeparatorLine : "");
    const std::string log = ReadFileOrDie(LogPath());
    ASSERT_EQ(log.compare(0, head.size(), head), 0) << size << " " << log.substr(0, 80);
    std::smatch match;
    const std::string tail = log.substr(head.size());
    ASSERT_TRUE(std::regex_match(tail, match, kPrefixedLine)) << size << " " << tail;
    EXPECT_EQ(match[1], "line");
    const auto backups = Backups();
    ASSERT_EQ(backups.size(), rotated ? 1u : 0u) << size;
    for (const std::string& backup : backups) {
      EXPECT_TRUE(std::regex_match(fs::path(backup).filename().string(), kBackupName)) << backup;
      EXPECT_EQ(ReadFileOrDie(backup), old);
    }
    if (size < 0 || rotated) {
      EXPECT_EQ(ModeOf(LogPath()), fs::perms(0644)) << size;
    }
    if (size < 0) {
      for (const std::string folder : {"/Logs", "/Logs/Orvane", "/Logs/Orvane/Installers"})
        EXPECT_EQ(ModeOf(library_ + folder), fs::perms(0755)) << folder;
    }
  }
  // Within a run, the line of a later second carries that second.
  library_ = temp_.path();
  {
    InstallerLog log(library_);
    log.Log("first");
    for (const std::time_t first = std::time(nullptr); std::time(nullptr) == first;)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    log.Log("later");
  }
  std::istringstream lines(ReadFileOrDie(LogPath()));
  std::string first, later;
  ASSERT_TRUE(std::getline(lines, first) && std::getline(lines, later));
  EXPECT_EQ(later.substr(22), "later");
  EXPECT_NE(later.substr(0, 22), first.substr(0, 22));
}

TEST_F(InstallerLogTest, ATakenBackupNameIsNeitherReplacedNorFollowed) {
  const std::string old(10485761, 'z');
  WriteFileOrDie(LogPath(), old);
  // Every backup name the next few seconds could produce is a link to an earlier backup.
  std::vector<std::string> planted;
  for (std::time_t when = std::time(nullptr), last = when + 5; when < last; ++when) {
    std::tm local;
    char name[64];
    std::strftime(name, sizeof(name), "%Y-%m-%d_%H-%M-%S_FLNXInstaller.log",
                  localtime_r(&when, &local));
    planted.push_back(temp_.path() + "/" + name);
    WriteFileOrDie(planted.back(), "earlier backup");
    ASSERT_EQ(symlink(planted.back().c_str(), (Folder() + name).c_str()), 0);
  }
  { InstallerLog(library_).Log("line"); }
  for (const auto& path : planted) EXPECT_EQ(ReadFileOrDie(path), "earlier backup");
  EXPECT_EQ(Backups().size(), planted.size());
  // The old log was kept in place and appended to.
  EXPECT_EQ(ReadFileOrDie(LogPath()).substr(0, old.size()), old);
}

// Something other than a log file of its own at a log path: the run goes on
// without a log, writes nowhere and never hangs.
TEST_F(InstallerLogTest, AnObstacleAtTheLogPathLeavesTheLogClosed) {
  enum Obstacle { kFileForTheFolder, kLinkToAFile, kDanglingLink, kSecondHardLink, kFifo };
  for (Obstacle obstacle :
       {kFileForTheFolder, kLinkToAFile, kDanglingLink, kSecondHardLink, kFifo}) {
    ScopedTempDir library;
    library_ = library.path();
    const bool inFolder = obstacle != kFileForTheFolder;
    const std::string victim = library_ + (inFolder ? "/victim" : "/Logs");
    const std::string nowhere = library_ + "/nowhere";
    WriteFileOrDie(victim, "keep");
    if (inFolder) MakeDirectoriesOrDie(Folder());
    int planted = 0;
    if (obstacle == kLinkToAFile) planted = symlink(victim.c_str(), LogPath().c_str());
    if (obstacle == kDanglingLink) planted = symlink(nowhere.c_str(), LogPath().c_str());
    if (obstacle == kSecondHardLink) planted = link(victim.c_str(), LogPath().c_str());
    // Opened for writing without a reader, a FIFO would block for good.
    if (obstacle == kFifo) planted = mkfifo(LogPath().c_str(), 0666);
    ASSERT_EQ(planted, 0);
    InstallerLog log(library_);
    EXPECT_FALSE(log.IsOpen()) << obstacle;
    log.Log("dropped");
    EXPECT_EQ(ReadFileOrDie(victim), "keep");
    EXPECT_FALSE(PathExists(nowhere));
  }
}

// Runs crossing the size limit together, each writing from two threads: one
// run moves the old log aside whole, and every line lands once, whole.
TEST_F(InstallerLogTest, ParallelRunsKeepEveryLineWhole) {
  constexpr int kRuns = 20, kLinesPerRun = 50;
  const std::string old(10485761, 'o');
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
      if (line + "\n" == kSeparatorLine) continue;
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

}  // namespace
