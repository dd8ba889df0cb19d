// skiff-host around a skiff played by a shell script, for what the end-to-end
// runs under skiff-host cannot show: the bytes the host answers with for each
// way of behaving, its FIFOs, which runs use them, the arguments skiff gets,
// and runs of a skiff that never connects. That skiff survives the host is
// the fault table's.
#include "tools/skiff-host/host_session.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "bridge/packet_frame.h"
#include "gtest/gtest.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

// id 4, auxiliary word 0xFFFF, length 10, "terminate" and its NUL.
const std::string kTerminate("\x04\0\0\0\xff\xff\0\0\x0a\0\0\0terminate", 22);
// Its header alone, announcing 409601 bytes.
const std::string kOversized("\x04\0\0\0\xff\xff\0\0\x01\x40\x06\0", 12);
// Connects as skiff does (its reader of p_OUT first), sends progress 10 and
// 100, reads the start of the answer, then closes its writer, which ends the
// exchange, and reads the rest.
constexpr char kTalks[] =
    "cd \"${0%/*}\" && exec 3<p_OUT 4>p_IN && cat packets >&4 && head -c 12 <&3 >answer; "
    "exec 4>&-; cat <&3 >>answer";
constexpr char kSucceeded[] = "progress 10\nprogress 100\nresult: success\n";
// Succeeds only with the arguments of the row that uses it.
constexpr char kGotItsOptions[] =
    "[ \"$*\" = '--mode=install --pipeName=p --inputXml= --mode=launchApp -v' ] && exit 5";

TEST(HostSessionTest, AnswersAsItsOptionsSayAndUsesThePipesOnlyForInstallAndUninstall) {
  const struct {
    std::vector<std::string> options;  // after --mode=install --pipeName=p
    const char* script;                // skiff
    char atIn;                         // at p_IN before: nothing, a Fifo or a Regular file
    int exit;
    const char* shown;   // a result line only when the run used the pipes
    std::string answer;  // what skiff read from p_OUT
    int atLeastMs;
  } rows[] = {
      {{}, kTalks, '-', 0, kSucceeded, kTerminate, 0},
      {{"--terminate-at-once"}, kTalks, '-', 0, kSucceeded, kTerminate, 0},
      {{"--close-after=1"}, kTalks, '-', 0, kSucceeded, "", 0},
      {{"--oversized"}, kTalks, '-', 0, kSucceeded, kOversized, 0},
      {{"--split-header"}, kTalks, '-', 0, kSucceeded, kTerminate, 200},
      {{"--connect-late=300"}, kTalks, '-', 0, kSucceeded, kTerminate, 300},
      {{"--answer-late=300"}, kTalks, '-', 0, kSucceeded, kTerminate, 300},
      // A skiff that never connects: its status comes back once it ends. A
      // FIFO already there is used; anything else stops the run before skiff
      // is started.
      {{}, "exit 7", 'F', 7, "result: failure (7)\n", "", 0},
      // Opens its reading end, so the host connects, but never its writing end.
      {{}, "exec 3<\"${0%/*}/p_OUT\"; sleep 0.3; exit 9", '-', 9, "result: failure (9)\n", "", 0},
      {{}, "touch \"$0.started\"", 'R', kHostSetupFailure, "", "", 0},
      // skiff gets its options unchanged and in order; like skiff, the host
      // takes the last mode.
      {{"--inputXml=", "--mode=launchApp", "--", "-v"}, kGotItsOptions, '-', 5, "", "", 0},
      {{"--mode=Install"}, "exit 5", '-', 5, "", "", 0},
      {{"--pipeName="}, "exit 5", '-', 5, "", "", 0},
  };
  ScopedTempDir dir;
  const std::string in = dir.path() + "/p_IN", out = dir.path() + "/p_OUT";
  std::string packets, last;
  EncodeFrame(MakeValuePacket(CB_Pkt_Progress, 10), &packets);
  EncodeFrame(MakeValuePacket(CB_Pkt_Progress, 100), &last);
  WriteFileOrDie(dir.path() + "/packets", packets + last);
  for (const auto& row : rows) {
    for (const char* name : {"/p_IN", "/p_OUT", "/answer"}) unlink((dir.path() + name).c_str());
    WriteFileOrDie(dir.path() + "/skiff", std::string("#!/bin/sh\n") + row.script + "\n");
    chmod((dir.path() + "/skiff").c_str(), 0755);
    if (row.atIn == 'F') mkfifo(in.c_str(), 0600);
    if (row.atIn == 'R') WriteFileOrDie(in, "");
    std::vector<std::string> arguments = {"--skiff=" + dir.path() + "/skiff",
                                          "--pipe-folder=" + dir.path(), "--mode=install",
                                          "--pipeName=p"};
    arguments.insert(arguments.end(), row.options.begin(), row.options.end());
    HostOptions options;
    std::string error;
    ASSERT_TRUE(ParseHostOptions(arguments, &options, &error)) << error;
    std::ostringstream shown, errors;
    ProgressDisplay display(shown, false);
    // Either side may make the FIFOs, so anybody may open them.
    const mode_t mask = umask(022);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HostSession(options, &display, &errors).Run(), row.exit) << row.script;
    const auto took = std::chrono::steady_clock::now() - start;
    umask(mask);
    EXPECT_GE(took, std::chrono::milliseconds(row.atLeastMs)) << row.script;
    EXPECT_EQ(shown.str(), row.shown) << row.script;
    const std::string answer = dir.path() + "/answer";
    EXPECT_EQ(PathExists(answer) ? ReadFileOrDie(answer) : "", row.answer) << row.script;
    // The host's own trouble: skiff ending unconnected, or p_IN not being a FIFO.
    EXPECT_EQ(errors.str().empty(), row.atIn == '-') << errors.str();
    EXPECT_EQ(errors.str().find(" exists and is not a FIFO") != std::string::npos, row.atIn == 'R');
    EXPECT_EQ(PathExists(out), *row.shown != '\0') << row.script;
    EXPECT_FALSE(PathExists(dir.path() + "/skiff.started")) << row.script;
    struct stat info;
    if (row.atIn == '-' && stat(out.c_str(), &info) == 0) {
      EXPECT_EQ(info.st_mode & (S_IFMT | 0777), S_IFIFO | 0666u) << row.script;
    }
  }
}

// A command line a tool does not take gets its usage on standard error, and
// 2: skiff-host's with a malformed value or an unknown option, pkgutil's with
// anything but --check-signature PATH.
TEST(ToolCommandLineTest, IsRefusedWithTheUsage) {
  for (const std::string commandLine :
       {SKIFF_HOST_BINARY " --answer-late=1s", SKIFF_HOST_BINARY " '--connect-late= 5'",
        SKIFF_HOST_BINARY " --send-ids=1,,2", SKIFF_HOST_BINARY " --send-ids=4294967296",
        SKIFF_HOST_BINARY " --skiff=", SKIFF_HOST_BINARY " --mode",
        SKIFF_HOST_BINARY " --pipename=p", SKIFF_PKGUTIL_BINARY " --check-signature",
        SKIFF_PKGUTIL_BINARY " --check-signature a b", SKIFF_PKGUTIL_BINARY " --verify a"}) {
    const std::string command =
        "err=$(" + commandLine + " 2>&1 >/dev/null); s=$?; case $err in *'sage: '*) exit $s;; esac";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2) << commandLine;
  }
}

}  // namespace
