#include "platform/launcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/scoped_temp_dir.h"

namespace {

class LauncherTest : public ::testing::Test {
 protected:
  LauncherTest() : output_(dir_.path() + "/arguments") {}

  // A shell script that records its argument count and arguments.
  std::string MakeRecorder(const std::string& path) {
    WriteFileOrDie(path, "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > '" + output_ + ".tmp'\nmv '" +
                             output_ + ".tmp' '" + output_ + "'\n");
    chmod(path.c_str(), 0755);
    return path;
  }

  // What the recorder wrote, once it has; empty after ten seconds.
  std::string AwaitOutput() {
    for (int i = 0; i < 1000 && !PathExists(output_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return PathExists(output_) ? ReadFileOrDie(output_) : std::string();
  }

  ScopedTempDir dir_;
  std::string output_;
  std::unique_ptr<Launcher> launcher_ = CreateLauncher();
};

TEST_F(LauncherTest, StartsWithExactlyTheGivenArguments) {
  const pid_t pid = launcher_->StartProcess(MakeRecorder(dir_.path() + "/tool"), {"/z"});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(AwaitOutput(), "1|/z|");
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(LauncherTest, RunsInASessionOfItsOwn) {
  const pid_t pid = launcher_->StartProcess("/bin/sh", {"-c", "ps -o sid= -p $$ > " + output_});
  ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
  EXPECT_EQ(std::stoi(ReadFileOrDie(output_)), pid);
}

TEST_F(LauncherTest, KeepsSkiffsOwnDescriptors) {
  const int fd = open(output_.c_str(), O_WRONLY | O_CREAT, 0644);  // inheritable
  ASSERT_GE(fd, 3);
  const std::string fdPath = "/proc/self/fd/" + std::to_string(fd);
  const pid_t pid = launcher_->StartProcess(
      "/bin/sh", {"-c", "if [ -e " + fdPath + " ]; then exit 1; else exit 7; fi"});
  close(fd);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST_F(LauncherTest, AFileThatCannotRunThrows) {
  const std::string path = dir_.path() + "/not-executable";
  WriteFileOrDie(path, "#!/bin/sh\n");
  try {
    launcher_->StartProcess(path, {});
    FAIL() << "no exception";
  } catch (const PlatformException& error) {
    EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
  }
  EXPECT_THROW(launcher_->StartProcess(dir_.path() + "/absent", {}), PlatformException);
}

TEST_F(LauncherTest, OpensABundleThroughItsMainExecutable) {
  const std::string app = dir_.path() + "/Tool.app";
  WriteFileOrDie(app + "/Contents/Info.plist",
                 "<plist><dict><key>CFBundleExecutable</key><string>tool</string></dict></plist>");
  MakeRecorder(app + "/Contents/MacOS/tool");
  EXPECT_TRUE(launcher_->OpenApplication(app));
  EXPECT_EQ(AwaitOutput(), "0|");
}

TEST_F(LauncherTest, BundlesThatCannotBeStartedAreRefused) {
  EXPECT_FALSE(launcher_->OpenApplication(dir_.path() + "/Absent.app"));
  const std::string app = dir_.path() + "/NoExecutable.app";
  MakeDirectoriesOrDie(app + "/Contents");
  EXPECT_FALSE(launcher_->OpenApplication(app));
  WriteFileOrDie(app + "/Contents/Info.plist",
                 "<plist><dict><key>CFBundleExecutable</key><string>gone</string></dict></plist>");
  EXPECT_FALSE(launcher_->OpenApplication(app));
}

}  // namespace
