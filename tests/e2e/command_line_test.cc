// The skiff binary's command line, seen from outside.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/skiff_root.h"

namespace {

using ::testing::Contains;

TEST(SkiffCommandLineTest, WithoutArgumentsItPrintsTheUsageAndExitsWithZero) {
  SkiffRoot root;
  const SkiffResult result = root.RunSkiff({});
  EXPECT_EQ(result.exitCode, 0) << result.Describe() << "\n" << result.stderrText;
  EXPECT_EQ(result.stderrText, SkiffRoot::kUsageText);
  EXPECT_EQ(result.stdoutText, "");
  EXPECT_THAT(root.LogLines(), Contains("Skiff has launched"));
}

}  // namespace
