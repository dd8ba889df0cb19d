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
