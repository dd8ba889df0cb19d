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
  // A script at `path` that writes "<argument count>|<argument>|..." to `output_`.
  void MakeRecorder(const std::string& path) {
    WriteFileOrDie(path, "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > '" + output_ + ".tmp'\nmv '" +
                             output_ + ".tmp' '" + output_ + "'\n");
    chmod(path.c_str(), 0755);
  }

  // What the recorder wrote; empty when it has not within ten seconds.
  std::string AwaitOutput() {
    for (int i = 0; i < 1000 && !PathExists(output_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return PathExists(output_) ? ReadFileOrDie(output_) : "";
  }

  ScopedTempDir dir_;
  const std::string output_ = dir_.path() + "/arguments";
  std::unique_ptr<Launcher> launcher_ = CreateLauncher();
};

TEST_F(LauncherTest, StartsWithExactlyTheGivenArguments) {
  MakeRecorder(dir_.path() + "/tool");
  launcher_->StartProcess(dir_.path() + "/tool", {"/z"});
  EXPECT_EQ(AwaitOutput(), "1|/z|");
}

TEST_F(LauncherTest, RunsInItsOwnSessionWithoutSkiffsDescriptors) {
  const int inherited = open(output_.c_str(), O_WRONLY | O_CREAT, 0644);  // no O_CLOEXEC
  const pid_t pid = launcher_->StartProcess(
      "/bin/sh", {"-c", "[ $(ps -o sid= -p $$) -eq $$ ] && ! [ -e /proc/self/fd/" +
                            std::to_string(inherited) + " ]"});
  close(inherited);
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(LauncherTest, AFileThatCannotRunThrows) {
  WriteFileOrDie(dir_.path() + "/plain", "#!/bin/sh\n");
  try {
    launcher_->StartProcess(dir_.path() + "/plain", {});
    FAIL() << "started a file without execute permission";
  } catch (const PlatformException& error) {
    EXPECT_NE(std::string(error.what()).find(dir_.path() + "/plain"), std::string::npos);
  }
}

TEST_F(LauncherTest, OpensABundleThroughItsMainExecutable) {
  const std::string app = dir_.path() + "/Tool.app";
  EXPECT_FALSE(launcher_->OpenApplication(app));
  WriteFileOrDie(app + "/Contents/Info.plist",
                 "<plist><dict><key>CFBundleExecutable</key><string>tool</string></dict></plist>");
  EXPECT_FALSE(launcher_->OpenApplication(app));
  MakeRecorder(app + "/Contents/MacOS/tool");
  EXPECT_TRUE(launcher_->OpenApplication(app));
  EXPECT_EQ(AwaitOutput(), "0|");
}

}  // namespace
