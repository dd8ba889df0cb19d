#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <tuple>

#include "platform/launcher.h"
#include "platform/shell.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

// Counts the lines of /proc/self/status saying that no standard signal is
// ignored and none is blocked: 2 for a child that starts as it should. (glibc
// itself has a child ignore its internal real-time signals, 32 and up.)
constexpr char kSignalState[] =
    "grep -cE '^(SigBlk:\\s0{16}|SigIgn:\\s[0-9a-f]{8}[08]0{7})$' /proc/self/status";

TEST(ProcessTest, TheShellCapturesBothStreamsInOrderAndReportsTheStatus) {
  std::string counted;
  for (int i = 1; i <= 400000; ++i) counted += std::to_string(i) + "\n";
  std::string accents;
  for (int i = 0; i < 1000000; ++i) accents += "\xC3\xA9";
  constexpr size_t kAll = std::string::npos;
  const std::tuple<std::string, int, std::string, size_t> kRows[] = {
      // command, status, output, how far it is well-formed UTF-8 (kAll: all of it)
      {"echo one; echo two >&2; echo three; exit 3", 3, "one\ntwo\nthree\n", kAll},
      {"kill -TERM $$", 128 + SIGTERM, "", kAll},
      // The background child holds the pipe until it ends; the output is complete then.
      {"(sleep 0.2; echo late) & echo early", 0, "early\nlate\n", kAll},
      // Megabytes: past a small reserved room, moved to bigger ones in order.
      {"seq 1 400000", 0, counted, kAll},
      // Two-byte characters over megabytes, written in pieces of an odd size:
      // reads cut many of them in two.
      {"yes '\xC3\xA9' | tr -d '\\n' | head -c 2000000 | dd bs=4095 iflag=fullblock status=none", 0,
       accents, kAll},
      // The check stops at the first byte that is not UTF-8, and at a
      // character the command left unfinished.
      {"printf 'caf\\303\\251 \\377 \\303\\251'", 0, "caf\xC3\xA9 \xFF \xC3\xA9", 6},
      {"printf 'ab\\342\\202'", 0, "ab\xE2\x82", 2},
  };
  for (const size_t reserved : {kReservedOutputBytes, size_t{4096}}) {
    for (const auto& [command, status, output, valid] : kRows) {
      const ShellResult result = CreateShell(reserved)->Run(command);
      EXPECT_EQ(result.status, status) << command << " reserving " << reserved;
      EXPECT_TRUE(result.output == output)
          << command << " reserving " << reserved << ": " << result.output.substr(0, 200);
      EXPECT_EQ(result.validUtf8Bytes, valid == kAll ? output.size() : valid)
          << command << " reserving " << reserved;
    }
  }
}

TEST(ProcessTest, TheLauncherStartsExactlyTheGivenArgumentsInASessionOfTheirOwn) {
  ScopedTempDir dir;
  const int inherited = open((dir.path() + "/open").c_str(), O_WRONLY | O_CREAT, 0644);
  const std::string checks = "[ $# -eq 1 ] && [ \"$1\" = /z ] && [ $(ps -o sid= -p $$) -eq $$ ]" +
                             std::string(" && ! [ -e /proc/self/fd/") + std::to_string(inherited) +
                             " ] && [ $(" + kSignalState + ") -eq 2 ]";
  // Children start the way they would from Skiff, which ignores SIGPIPE: here
  // with every signal blocked too. None of it may reach them.
  const sighandler_t savedPipe = signal(SIGPIPE, SIG_IGN);
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &saved);
  const pid_t pid = CreateLauncher()->StartProcess("/bin/sh", {"-c", checks, "sh", "/z"});
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  signal(SIGPIPE, savedPipe);
  close(inherited);
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  WriteFileOrDie(dir.path() + "/plain", "#!/bin/sh\n");
  // A file without execute permission is refused, naming it.
  EXPECT_THAT([&dir] { CreateLauncher()->StartProcess(dir.path() + "/plain", {}); },
              testing::ThrowsMessage<PlatformException>(testing::HasSubstr(dir.path() + "/plain")));
  // A bundle opens only when its main executable starts: here it is missing.
  const std::string app = dir.path() + "/Tool.app";
  EXPECT_FALSE(CreateLauncher()->OpenApplication(app));
  WriteFileOrDie(app + "/Contents/Info.plist",
                 "<plist><dict><key>CFBundleExecutable</key><string>tool</string></dict></plist>");
  EXPECT_FALSE(CreateLauncher()->OpenApplication(app));
}

}  // namespace
