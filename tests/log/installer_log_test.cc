#include "log/installer_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace {

class InstallerLogTest : public ::testing::Test {
 protected:
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
};

const std::regex kPrefixedLine(R"(\[\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}\] (.*))");

TEST_F(InstallerLogTest, FirstRunCreatesTheFolderChainAndWritesNoSeparator) {
  {
    InstallerLog log(temp_.path());
    ASSERT_TRUE(log.IsOpen());
    log.Log("Skiff has launched");
  }
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
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u) << "the restarted log holds no separator";
  EXPECT_TRUE(std::regex_match(lines[0], kPrefixedLine));
}

TEST_F(InstallerLogTest, ABackupOfTheSameSecondIsNeverOverwritten) {
  const std::string old(kMaxLogSizeBytes + 1, 'z');
  WriteFileOrDie(LogPath(), old);
  // Occupy every backup name the next few seconds could produce.
  std::vector<std::string> planted;
  const std::time_t now = std::time(nullptr);
  for (int offset = 0; offset < 5; ++offset) {
    std::time_t when = now + offset;
    std::tm local;
    localtime_r(&when, &local);
    char name[64];
    std::strftime(name, sizeof(name), "%Y-%m-%d_%H-%M-%S_FLNXInstaller.log", &local);
    WriteFileOrDie(LogDirectory() + name, "earlier backup");
    planted.push_back(LogDirectory() + name);
  }
  { InstallerLog(temp_.path()).Log("line"); }
  for (const auto& path : planted) EXPECT_EQ(ReadFileOrDie(path), "earlier backup");
  // The old log was kept in place and appended to.
  EXPECT_EQ(ReadFileOrDie(LogPath()).substr(0, old.size()), old);
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
