// What no end-to-end run shows of the throwaway root, which every one of them
// runs in: that the machine's own folders are never written, that a stuck
// program dies at its deadline with its children, and that a command that
// cannot start says why.
#include "tools/throwaway_root/throwaway_root.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/support/scoped_temp_dir.h"

namespace {

using throwaway_root::RootCommand;

constexpr std::chrono::seconds kTimeout(20);

RootCommand Shell(const std::string& root, const std::string& script) {
  RootCommand command;
  command.root = root;
  command.argv = {"/bin/sh", "-c", script};
  return command;
}

// A name nothing else uses: that of the test's root folder.
std::string Probe(const ScopedTempDir& root) {
  return "skiff-probe-" + root.path().substr(root.path().rfind('/') + 1);
}

TEST(ThrowawayRootTest, TheMachinesOwnFoldersAreNeverWritten) {
  ScopedTempDir root, host;
  WriteFileOrDie(host.path() + "/data", "host data\n");
  RootCommand command =
      Shell(root.path(),
            "for d in /Library /Applications /tmp /usr /etc /dev; do "
            "mkdir -p $d; echo x >$d/$P; done; cat /opt/d; echo >>/opt/d; echo $L");
  command.binds.push_back({host.path() + "/data", "/opt/d", true});
  command.environment["P"] = Probe(root);
  setenv("L", "leaked from the host", 1);
  const throwaway_root::CommandOutcome outcome = throwaway_root::Run(command, kTimeout);
  EXPECT_EQ(outcome.stdoutText, "host data\n\n");
  EXPECT_THAT(outcome.stderrText, ::testing::HasSubstr("Read-only file system"));
  EXPECT_EQ(ReadFileOrDie(host.path() + "/data"), "host data\n");
  // Only the root's own folders, not the host trees mounted in it, got one.
  for (const std::string folder :
       {"/Library/", "/Applications/", "/tmp/", "/usr/", "/etc/", "/dev/"}) {
    EXPECT_FALSE(PathExists(folder + Probe(root))) << folder;
    EXPECT_EQ(PathExists(root.path() + folder + Probe(root)),
              folder.size() != 5 || folder == "/tmp/");
  }
}

// Alive and not a zombie, which a container's init may leave unreaped.
bool Alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), {});
  return !text.empty() && text.find(") Z") == std::string::npos;
}

TEST(ThrowawayRootTest, AStuckProgramIsKilledWithItsChildrenAtItsDeadline) {
  ScopedTempDir root;
  const auto start = std::chrono::steady_clock::now();
  const auto outcome = throwaway_root::Run(Shell(root.path(), "sleep 60 & echo $!; wait"),
                                           std::chrono::milliseconds(500));
  EXPECT_TRUE(outcome.timedOut);
  EXPECT_EQ(outcome.termSignal, SIGKILL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  const pid_t sleeper = std::stoi("0" + outcome.stdoutText);
  for (int i = 0; i < 250 && Alive(sleeper); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(Alive(sleeper)) << sleeper;
}

TEST(ThrowawayRootTest, ACommandThatCannotStartSaysWhy) {
  ScopedTempDir root;
  const std::string r = root.path(), probe = "/usr/sbin/" + Probe(root);
  WriteFileOrDie(r + "/file", "");
  // Bind source and target (none when empty), program, working folder: message.
  const std::vector<std::array<std::string, 5>> rows = {
      {r + "/none", "/opt/x", "/bin/true", "/", "cannot bind " + r + "/none: No such file"},
      {"/usr", "opt/x", "/bin/true", "/", "the target \"opt/x\" is not an absolute path"},
      {"/usr", "/opt/../etc", "/bin/true", "/", "the target \"/opt/../etc\" is not an absolute"},
      {"/usr", "/", "/bin/true", "/", "the target \"/\" is not an absolute path"},
      {r + "/file", probe, "/bin/true", "/", "mount point " + probe + ": Read-only file system"},
      {"", "", "/no/such/program", "/",
       "cannot run /no/such/program inside the root " + r + ": No"},
      {"", "", "no-such-program", "/", "cannot run no-such-program"},
      {"", "", "/bin/true", "/Users/nobody", "/Users/nobody: No such file or directory"},
  };
  for (const auto& [source, target, program, folder, says] : rows) {
    RootCommand command = Shell(r, "");
    command.argv = {program};
    command.workingDirectory = folder;
    if (!source.empty()) command.binds.push_back({source, target});
    EXPECT_THAT(
        [&] { throwaway_root::Run(command, kTimeout); },
        ::testing::ThrowsMessage<throwaway_root::ThrowawayRootError>(::testing::HasSubstr(says)));
  }
  EXPECT_FALSE(PathExists(probe));
}

TEST(ThrowawayRootTest, UnavailableUserNamespacesAreNamedAsSuch) {
  // A user namespace that allows no nested ones refuses unshare as a kernel
  // without unprivileged user namespaces does.
  ScopedTempDir root;
  const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
  const pid_t pid = fork();
  if (pid == 0) {
    if (unshare(CLONE_NEWUSER) != 0) _exit(2);
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " + uid + " 1";
    std::ofstream("/proc/self/gid_map") << "0 " + gid + " 1";
    std::ofstream("/proc/sys/user/max_user_namespaces") << "0";
    try {
      throwaway_root::Run(Shell(root.path(), "true"), kTimeout);
    } catch (const throwaway_root::ThrowawayRootError& error) {
      _exit(std::string(error.what()).rfind("user namespaces are unavailable: unshare: ", 0) ? 3
                                                                                             : 0);
    }
    _exit(4);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_EQ(status, 0) << "2: cannot set the test up, 3: another message, 4: entered the root";
}

}  // namespace
