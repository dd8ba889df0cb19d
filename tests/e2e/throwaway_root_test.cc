// What no end-to-end run shows of the throwaway root, which every one of them
// runs in: that the machine's own folders are never written and that a stuck
// program dies at its deadline with its children.
#include "tools/throwaway_root/throwaway_root.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <thread>

#include "tests/support/scoped_temp_dir.h"

namespace {

using throwaway_root::RootCommand;

constexpr std::chrono::seconds kTimeout(20);

// A name nothing else uses: that of the test's root folder.
std::string Probe(const ScopedTempDir& root) {
  return "skiff-probe-" + root.path().substr(root.path().rfind('/') + 1);
}

TEST(ThrowawayRootTest, TheMachinesOwnFoldersAreNeverWritten) {
  ScopedTempDir root, host;
  WriteFileOrDie(host.path() + "/data", "host data\n");
  const std::string script =
      "for d in /Library /Applications /tmp /usr /etc /dev; do "
      "mkdir -p $d; echo x >$d/$P; done; cat /opt/d; echo >>/opt/d; echo $L";
  RootCommand command{
      root.path(), "", {"/bin/sh", "-c", script}, {{host.path() + "/data", "/opt/d", true}}, {}};
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
  // Nor by a bind whose target climbs out or needs a mount point in them.
  const std::string probe = "/usr/sbin/" + Probe(root);
  for (const auto& [target, says] :
       {std::pair<std::string, std::string>{"/opt/../etc", "not an absolute path"},
        {probe, "mount point " + probe + ": Read-only file system"}}) {
    command.binds = {{host.path() + "/data", target}};
    EXPECT_THAT(
        [&] { throwaway_root::Run(command, kTimeout); },
        ::testing::ThrowsMessage<throwaway_root::ThrowawayRootError>(::testing::HasSubstr(says)));
  }
  EXPECT_FALSE(PathExists(probe));
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
  const auto outcome =
      throwaway_root::Run({root.path(), "", {"/bin/sh", "-c", "sleep 60 & echo $!; wait"}, {}, {}},
                          std::chrono::milliseconds(500));
  EXPECT_TRUE(outcome.timedOut);
  EXPECT_EQ(outcome.termSignal, SIGKILL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  const pid_t sleeper = std::stoi("0" + outcome.stdoutText);
  for (int i = 0; i < 250 && Alive(sleeper); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(Alive(sleeper)) << sleeper;
}

}  // namespace
