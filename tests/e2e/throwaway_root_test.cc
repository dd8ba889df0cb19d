// The throwaway root, exercised with the host's own shell and tools.
#include "tools/throwaway_root/throwaway_root.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scoped_temp_dir.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using throwaway_root::BindMount;
using throwaway_root::CommandOutcome;
using throwaway_root::RootCommand;
using throwaway_root::ThrowawayRootError;

namespace {

constexpr std::chrono::seconds kTimeout(20);

class ThrowawayRootTest : public ::testing::Test {
 protected:
  RootCommand Shell(const std::string& script) const {
    RootCommand command;
    command.root = root_.path();
    command.argv = {"/bin/sh", "-c", script};
    return command;
  }

  CommandOutcome RunShell(const std::string& script) const {
    return throwaway_root::Run(Shell(script), kTimeout);
  }

  // A name no other test, and nothing on the host, uses.
  std::string UniqueName() const {
    return "skiff-probe-" + fs::path(root_.path()).filename().string();
  }

  ScopedTempDir root_;
};

// Alive and not a zombie: a container's init may never reap the orphans it
// inherits.
bool ProcessExists(pid_t pid) {
  std::string stat;
  try {
    stat = ReadFileOrDie("/proc/" + std::to_string(pid) + "/stat");
  } catch (const std::runtime_error&) {
    return false;
  }
  const size_t end = stat.rfind(')');
  return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z' &&
         stat[end + 2] != 'X';
}

// Files under /proc/self want their text in a single write.
bool WriteProcFile(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return close(fd) == 0 && written;
}

}  // namespace

// --- What the program sees -------------------------------------------------

TEST_F(ThrowawayRootTest, TheRootsApplicationsFolderReplacesTheHosts) {
  MakeDirectoriesOrDie(root_.path() + "/Applications/Only In The Root.app");
  const CommandOutcome outcome = RunShell("ls /Applications");
  EXPECT_EQ(outcome.exitCode, 0) << outcome.stderrText;
  EXPECT_EQ(outcome.stdoutText, "Only In The Root.app\n");
}

TEST_F(ThrowawayRootTest, TheHostsLibraryIsNotTouched) {
  const std::string file = "/Library/Logs/Orvane/Installers/" + UniqueName();
  const CommandOutcome outcome =
      RunShell("mkdir -p /Library/Logs/Orvane/Installers && echo x > " + file);
  ASSERT_EQ(outcome.exitCode, 0) << outcome.stderrText;
  EXPECT_TRUE(PathExists(root_.path() + file));
  EXPECT_FALSE(PathExists(file));
}

TEST_F(ThrowawayRootTest, TheHostTreesAreReadOnly) {
  const std::string name = UniqueName();
  const CommandOutcome outcome = RunShell("touch /usr/" + name + " || touch /etc/" + name +
                                          " || touch /dev/" + name + " || echo refused");
  EXPECT_EQ(outcome.stdoutText, "refused\n");
  EXPECT_THAT(outcome.stderrText, HasSubstr("Read-only file system"));
  EXPECT_FALSE(PathExists("/usr/" + name));
  EXPECT_FALSE(PathExists("/etc/" + name));
  // Devices stay usable all the same.
  EXPECT_EQ(RunShell("echo gone > /dev/null && echo ok").stdoutText, "ok\n");
}

TEST_F(ThrowawayRootTest, TheCallerIsRootInside) {
  EXPECT_EQ(RunShell("id -u; id -g").stdoutText, "0\n0\n");
}

TEST_F(ThrowawayRootTest, TopLevelLinksMirrorTheHosts) {
  std::string expected;
  for (const char* name : {"/bin", "/lib", "/lib64", "/sbin"}) {
    std::error_code error;
    const fs::path target = fs::read_symlink(name, error);
    expected += error ? std::string("-\n") : target.string() + "\n";
  }
  const CommandOutcome outcome =
      RunShell("for l in /bin /lib /lib64 /sbin; do readlink $l || echo -; done");
  EXPECT_EQ(outcome.stdoutText, expected);
}

TEST_F(ThrowawayRootTest, TheEnvironmentIsExactlyTheOneGiven) {
  setenv("SKIFF_HOST_ONLY", "leaked", 1);
  const std::string script = "echo \"$HOME|$PATH|$SKIFF_HOST_ONLY|$EXTRA\"";
  EXPECT_EQ(RunShell(script).stdoutText,
            "/Users/tester|/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin||\n");

  RootCommand command = Shell(script);
  command.environment["HOME"] = "/Users/other";
  command.environment["EXTRA"] = "x y";
  EXPECT_EQ(throwaway_root::Run(command, kTimeout).stdoutText,
            "/Users/other|/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin||x y\n");
  unsetenv("SKIFF_HOST_ONLY");
}

TEST_F(ThrowawayRootTest, AProgramNameIsLookedUpInThePathGiven) {
  MakeDirectoriesOrDie(root_.path() + "/opt/tools");
  WriteFileOrDie(root_.path() + "/opt/tools/hello", "#!/bin/sh\necho from the root\n");
  fs::permissions(root_.path() + "/opt/tools/hello", fs::perms::owner_all);
  RootCommand command;
  command.root = root_.path();
  command.argv = {"hello"};
  command.environment["PATH"] = "/nowhere:/opt/tools:/usr/bin";
  EXPECT_EQ(throwaway_root::Run(command, kTimeout).stdoutText, "from the root\n");
}

// --- Extra mounts ----------------------------------------------------------

TEST_F(ThrowawayRootTest, AReadOnlyFileBindCanBeReadButNotWritten) {
  ScopedTempDir host;
  WriteFileOrDie(host.path() + "/data.txt", "host data\n");
  RootCommand command = Shell("cat /opt/skiff/data.txt; echo more >> /opt/skiff/data.txt");
  command.binds.push_back({host.path() + "/data.txt", "/opt/skiff/data.txt", true});
  const CommandOutcome outcome = throwaway_root::Run(command, kTimeout);
  EXPECT_EQ(outcome.stdoutText, "host data\n");
  EXPECT_NE(outcome.exitCode, 0);
  EXPECT_EQ(ReadFileOrDie(host.path() + "/data.txt"), "host data\n");
}

TEST_F(ThrowawayRootTest, AWritableFolderBindSharesItsFilesWithTheHost) {
  ScopedTempDir host;
  RootCommand command = Shell("echo inside > /mnt/shared/note");
  command.binds.push_back({host.path(), "/mnt/shared", false});
  ASSERT_EQ(throwaway_root::Run(command, kTimeout).exitCode, 0);
  EXPECT_EQ(ReadFileOrDie(host.path() + "/note"), "inside\n");
}

TEST_F(ThrowawayRootTest, ALaterBindCoversPartOfAHostTree) {
  ScopedTempDir tools;
  WriteFileOrDie(tools.path() + "/pkgutil", "#!/bin/sh\necho fake pkgutil \"$@\"\n");
  fs::permissions(tools.path() + "/pkgutil", fs::perms::owner_all);
  RootCommand command =
      Shell("ls /usr/sbin; /usr/sbin/pkgutil --check-signature x; ls /usr/bin/sh");
  command.binds.push_back({tools.path(), "/usr/sbin", true});
  const CommandOutcome outcome = throwaway_root::Run(command, kTimeout);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.stderrText;
  EXPECT_EQ(outcome.stdoutText, "pkgutil\nfake pkgutil --check-signature x\n/usr/bin/sh\n");
}

TEST_F(ThrowawayRootTest, AMountPointCannotBeCreatedInAReadOnlyHostTree) {
  ScopedTempDir host;
  WriteFileOrDie(host.path() + "/tool", "");
  const std::string target = "/usr/sbin/" + UniqueName();
  RootCommand command = Shell("true");
  command.binds.push_back({host.path() + "/tool", target, true});
  try {
    throwaway_root::Run(command, kTimeout);
    ADD_FAILURE() << "entered the root although " << target << " cannot exist";
  } catch (const ThrowawayRootError& error) {
    EXPECT_THAT(error.what(), HasSubstr("create the mount point " + target));
    EXPECT_THAT(error.what(), HasSubstr("Read-only file system"));
  }
  EXPECT_FALSE(PathExists(target));
}

TEST_F(ThrowawayRootTest, BadBindsAreRefusedBeforeStarting) {
  RootCommand missingSource = Shell("true");
  missingSource.binds.push_back({root_.path() + "/no-such-file", "/opt/x", false});
  EXPECT_THAT([&] { throwaway_root::Run(missingSource, kTimeout); },
              ::testing::ThrowsMessage<ThrowawayRootError>(
                  HasSubstr("cannot bind " + root_.path() + "/no-such-file")));
  for (const char* target : {"opt/x", "/opt/../etc", "/"}) {
    RootCommand badTarget = Shell("true");
    badTarget.binds.push_back({"/usr", target, false});
    EXPECT_THROW(throwaway_root::Run(badTarget, kTimeout), ThrowawayRootError) << target;
  }
}

// --- How the program ended -------------------------------------------------

TEST_F(ThrowawayRootTest, ExitCodeAndBothStreamsComeBack) {
  const CommandOutcome outcome = RunShell("echo out; echo err >&2; exit 3");
  EXPECT_EQ(outcome.exitCode, 3);
  EXPECT_EQ(outcome.termSignal, 0);
  EXPECT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.stdoutText, "out\n");
  EXPECT_EQ(outcome.stderrText, "err\n");
}

TEST_F(ThrowawayRootTest, ASignalThatEndsTheProgramIsReported) {
  const CommandOutcome outcome = RunShell("kill -TERM $$");
  EXPECT_EQ(outcome.exitCode, -1);
  EXPECT_EQ(outcome.termSignal, SIGTERM);
  EXPECT_THAT(outcome.Describe(), StartsWith("killed by signal 15"));
}

TEST_F(ThrowawayRootTest, OutputLargerThanAPipeOnBothStreamsIsCollected) {
  const CommandOutcome outcome = RunShell(
      "i=0; while [ $i -lt 3000 ]; do "
      "echo 0123456789012345678901234567890123456789012345678901234567890123456789; "
      "echo abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghij >&2; "
      "i=$((i+1)); done");
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.stdoutText.size(), 3000u * 71);
  EXPECT_EQ(outcome.stderrText.size(), 3000u * 71);
}

TEST_F(ThrowawayRootTest, AProgramPastItsDeadlineIsKilledWithItsChildren) {
  const auto start = std::chrono::steady_clock::now();
  throwaway_root::RunningCommand running = throwaway_root::Start(Shell("sleep 60 & echo $!; wait"));
  const CommandOutcome outcome = running.Wait(std::chrono::milliseconds(500));
  EXPECT_TRUE(outcome.timedOut);
  EXPECT_EQ(outcome.termSignal, SIGKILL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  ASSERT_FALSE(outcome.stdoutText.empty());
  const pid_t sleeper = static_cast<pid_t>(std::stoi(outcome.stdoutText));
  // The killed sleeper is reaped by init, which may take a moment.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ProcessExists(sleeper) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(ProcessExists(sleeper));
}

TEST_F(ThrowawayRootTest, AChildLeftRunningDoesNotHoldUpTheWait) {
  const auto start = std::chrono::steady_clock::now();
  const CommandOutcome outcome = RunShell("sleep 30 & echo $!");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(outcome.exitCode, 0);
  ASSERT_FALSE(outcome.stdoutText.empty());
  kill(static_cast<pid_t>(std::stoi(outcome.stdoutText)), SIGKILL);
}

// --- Failing to start --------------------------------------------------------

TEST_F(ThrowawayRootTest, AMissingProgramIsAClearFailure) {
  RootCommand command;
  command.root = root_.path();
  command.argv = {"/no/such/program", "x"};
  EXPECT_THAT(
      [&] { throwaway_root::Start(command); },
      ::testing::ThrowsMessage<ThrowawayRootError>("cannot run /no/such/program inside the root " +
                                                   root_.path() + ": No such file or directory"));
  command.argv = {"no-such-program"};
  EXPECT_THAT(
      [&] { throwaway_root::Start(command); },
      ::testing::ThrowsMessage<ThrowawayRootError>(HasSubstr("cannot run no-such-program")));
}

TEST_F(ThrowawayRootTest, AMissingWorkingFolderIsAClearFailure) {
  RootCommand command = Shell("true");
  command.workingDirectory = "/Users/nobody";
  EXPECT_THAT([&] { throwaway_root::Start(command); },
              ::testing::ThrowsMessage<ThrowawayRootError>(
                  HasSubstr("/Users/nobody: No such file or directory")));
}

TEST_F(ThrowawayRootTest, UnavailableUserNamespacesAreNamedAsSuch) {
  // A user namespace whose limit on nested ones is zero refuses unshare the
  // way a kernel without unprivileged user namespaces does.
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(report[0]);
    auto say = [&](const std::string& text) {
      (void)!write(report[1], text.data(), text.size());
      _exit(0);
    };
    const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
    if (unshare(CLONE_NEWUSER) != 0) say(std::string("test set-up: unshare: ") + strerror(errno));
    if (!WriteProcFile("/proc/self/setgroups", "deny") ||
        !WriteProcFile("/proc/self/uid_map", "0 " + uid + " 1") ||
        !WriteProcFile("/proc/self/gid_map", "0 " + gid + " 1") ||
        !WriteProcFile("/proc/sys/user/max_user_namespaces", "0")) {
      say(std::string("test set-up: limiting user namespaces: ") + strerror(errno));
    }
    try {
      throwaway_root::Run(Shell("true"), kTimeout);
      say("entered the root");
    } catch (const std::exception& error) {
      say(error.what());
    }
  }
  close(report[1]);
  std::string message;
  char buffer[512];
  for (ssize_t count; (count = read(report[0], buffer, sizeof(buffer))) > 0;) {
    message.append(buffer, static_cast<size_t>(count));
  }
  close(report[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << message;
  EXPECT_THAT(message, StartsWith("user namespaces are unavailable: unshare: "));
}

// --- Running in the background -----------------------------------------------

TEST_F(ThrowawayRootTest, DroppingAStartedProgramKillsAndReapsIt) {
  pid_t pid;
  {
    throwaway_root::RunningCommand running = throwaway_root::Start(Shell("sleep 60"));
    pid = running.pid();
    ASSERT_TRUE(ProcessExists(pid));
  }
  EXPECT_FALSE(ProcessExists(pid));
}

// --- Several at once ---------------------------------------------------------

TEST(ThrowawayRootParallelTest, RootsUsedFromSeveralThreadsStayApart) {
  constexpr int kThreads = 6;
  std::vector<ScopedTempDir> roots(kThreads);
  std::vector<CommandOutcome> outcomes(kThreads);
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      RootCommand command;
      command.root = roots[i].path();
      command.argv = {"/bin/sh", "-c",
                      "for n in 1 2 3 4 5; do echo $ME >> /tmp/me; done; ls /tmp; cat /tmp/me"};
      command.environment["ME"] = std::to_string(i);
      try {
        outcomes[i] = throwaway_root::Run(command, kTimeout);
      } catch (const std::exception& error) {
        failures[i] = error.what();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < kThreads; ++i) {
    const std::string me = std::to_string(i) + "\n";
    EXPECT_EQ(failures[i], "");
    EXPECT_EQ(outcomes[i].stdoutText, "me\n" + me + me + me + me + me) << "thread " << i;
  }
}
