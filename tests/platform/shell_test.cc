#include "platform/shell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

ShellResult RunShell(const std::string& commandLine) { return CreateShell()->Run(commandLine); }

TEST(ShellTest, StandardOutputAndErrorArriveInOneStreamInTheOrderWritten) {
  const ShellResult result = RunShell("echo one; echo two >&2; echo three");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "one\ntwo\nthree\n");
}

TEST(ShellTest, OutputOnStandardErrorAloneIsCaptured) {
  EXPECT_EQ(RunShell("echo oops >&2").output, "oops\n");
}

TEST(ShellTest, FiftyMegabytesOfOutputArriveWholeWithoutBlocking) {
  const ShellResult result = RunShell("head -c 52428800 /dev/zero; echo end");
  EXPECT_EQ(result.status, 0);
  ASSERT_EQ(result.output.size(), 52428800u + 4);
  EXPECT_EQ(result.output.substr(result.output.size() - 4), "end\n");
}

TEST(ShellTest, TheExitStatusComesBackAndASignalIsNeverSuccess) {
  EXPECT_EQ(RunShell("exit 7").status, 7);
  EXPECT_EQ(RunShell("kill -9 $$").status, 128 + 9);
  EXPECT_EQ(RunShell("kill -15 $$").status, 128 + 15);
}

TEST(ShellTest, TheEnvironmentIsInherited) {
  ASSERT_EQ(setenv("SKIFF_SHELL_TEST_VALUE", "a b $c", 1), 0);
  EXPECT_EQ(RunShell("printf %s \"$SKIFF_SHELL_TEST_VALUE\"").output, "a b $c");
  unsetenv("SKIFF_SHELL_TEST_VALUE");
}

TEST(ShellTest, ACommandLeavingABackgroundChildStillEndsWhenThePipeCloses) {
  // The child holds the pipe until it ends; the output is complete then.
  const ShellResult result = RunShell("(sleep 0.2; echo late) & echo early");
  EXPECT_EQ(result.output, "early\nlate\n");
}

}  // namespace
