#include "log/installer_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace {

const std::string kPrefix = R"(\[\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}\] )";
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
  // The backups of the log: regular files only, not links planted there.
  std::vector<std::string> Backups() const {
    std::vector<std::string> backups;
    for (const auto& entry : fs::directory_iterator(Folder()))
      if (!entry.is_symlink() && entry.path() != LogPath()) backups.push_back(entry.path());
    return backups;
  }
  // Runs shell `commands` in the library.
  void Run(const std::string& commands) {
    ASSERT_EQ(system(("cd " + library_ + " && " + commands).c_str()), 0) << commands;
  }

  ScopedTempDir temp_;
  const std::string library_ = temp_.path();
  mode_t savedMask_ = 0;
};

// A run finding no log, one at the size limit or one a byte over it: the
// separator starts the run in a log already there, and an oversized log moves
// whole to a backup named after the current second - unless that name is
// taken, which is neither replaced nor followed, and the old log is appended to.
TEST_F(InstallerLogTest, ARunStartsByTheLogItFinds) {
  // The size of the log found (-1: none), whether every backup name the next
  // few seconds could produce links to an earlier backup, whether a separator
  // and whether a rotation follow.
  const std::tuple<long long, bool, bool, bool> kRows[] = {
      {-1, 0, 0, 0}, {10485760, 0, 1, 0}, {10485761, 0, 0, 1}, {10485761, 1, 0, 0}};
  // Within a run, the line of a later second carries that second.
  InstallerLog run(library_);
  run.Log("first");
  for (const std::time_t first = std::time(nullptr); std::time(nullptr) == first;)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  run.Log("later");
  const std::regex lines("(" + kPrefix + ")first\n(?!\\1)" + kPrefix + "later\n");
  EXPECT_TRUE(std::regex_match(ReadFileOrDie(LogPath()), lines)) << ReadFileOrDie(LogPath());
  for (const auto& [size, taken, separator, rotated] : kRows) {
    Run("rm -rf -- *");
    const std::string old = size > 0 ? std::string(size - 1, 'x') + "\n" : "";
    if (size >= 0) WriteFileOrDie(LogPath(), old);
    if (taken)
      Run("cd Logs/Orvane/Installers && t=$(date +%s) && for i in 0 1 2 3 4 5; do "
          "n=$(date -d @$((t + i)) +%Y-%m-%d_%H-%M-%S_FLNXInstaller.log) && "
          "printf earlier >../../../$n && ln -s ../../../$n $n; done");
    { InstallerLog(library_).Log("line"); }
    for (const auto& entry : fs::directory_iterator(library_))
      EXPECT_TRUE(!entry.is_regular_file() || ReadFileOrDie(entry.path()) == "earlier") << entry;
    const std::string head = (rotated ? "" : old) + (separator ? kSeparatorLine : "");
    const std::string log = ReadFileOrDie(LogPath());
    ASSERT_EQ(log.compare(0, head.size(), head), 0) << size << " " << log.substr(0, 80);
    const std::string tail = log.substr(head.size());
    EXPECT_TRUE(std::regex_match(tail, std::regex(kPrefix + "line\n"))) << size << " " << tail;
    // What the backup holds the parallel runs show.
    EXPECT_EQ(Backups().size(), rotated ? 1u : 0u) << size;
    for (const std::string& backup : Backups())
      EXPECT_TRUE(std::regex_match(fs::path(backup).filename().string(), kBackupName)) << backup;
    EXPECT_TRUE((size >= 0 && !rotated) || ModeOf(LogPath()) == fs::perms(0644)) << size;
    for (const std::string folder : {"/Logs", "/Logs/Orvane", "/Logs/Orvane/Installers"})
      EXPECT_TRUE(size >= 0 || ModeOf(library_ + folder) == fs::perms(0755)) << folder;
  }
}

// Something other than a log file of its own at a log path: the run goes on
// without a log, writes nowhere and never hangs. Each row is shell commands run
// in a library holding a file "victim".
TEST_F(InstallerLogTest, AnObstacleAtTheLogPathLeavesTheLogClosed) {
  const std::string in = "mkdir -p Logs/Orvane/Installers && cd Logs/Orvane/Installers && ";
  // Opened for writing without a reader, a FIFO would block for good.
  for (const std::string& plant :
       {std::string("ln victim Logs"), in + "ln -s ../../../victim FLNXInstaller.log",
        in + "ln -s ../../../nowhere FLNXInstaller.log",
        in + "ln ../../../victim FLNXInstaller.log", in + "mkfifo FLNXInstaller.log"}) {
    Run("rm -rf -- * && printf keep >victim && " + plant);
    InstallerLog log(library_);
    EXPECT_FALSE(log.IsOpen()) << plant;
    log.Log("dropped");
    EXPECT_EQ(ReadFileOrDie(library_ + "/victim"), "keep");
    EXPECT_FALSE(PathExists(library_ + "/nowhere"));
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
  std::set<std::string> seen;
  int wholeOldLogs = 0;
  for (const auto& file : fs::directory_iterator(Folder())) {
    std::string text = ReadFileOrDie(file.path());
    if (text.compare(0, old.size(), old) == 0) ++wholeOldLogs, text.erase(0, old.size());
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (line + "\n" == kSeparatorLine) continue;
      // Only the prefix goes through the regex, whose matching recurses per byte.
      ASSERT_TRUE(std::regex_match(line.substr(0, 22), std::regex(kPrefix))) << line.substr(0, 80);
      const std::string body = line.substr(22);
      const size_t tail = body.rfind(':') + 1;
      ASSERT_EQ(body.find_first_not_of('a' + std::stoi(body), tail), std::string::npos) << body;
      EXPECT_TRUE(seen.insert(body.substr(0, tail)).second) << "twice: " << body.substr(0, tail);
    }
  }
  EXPECT_EQ(wholeOldLogs, 1);
  EXPECT_EQ(seen.size(), static_cast<size_t>(kRuns * kLinesPerRun));
}

}  // namespace
