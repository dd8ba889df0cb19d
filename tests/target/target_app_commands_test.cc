// Running commands and reading the package utility's report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/fake_shell.h"
#include "tests/target/target_app_fixture.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

constexpr char kSigner[] = "    1. Developer ID Installer: Orvane Systems, Inc. (K4T7W2Q9PX)";
constexpr char kIntermediate[] = "    2. Developer ID Certification Authority";
constexpr char kRoot[] = "    3. Apple Root CA";

class TargetAppCommandsTest : public TargetAppTest {
 protected:
  TargetAppCommandsTest() { environment_.shell = &shell_; }

  bool Validate(int status, const std::string& report) {
    shell_.Answer(kSignatureCheckCommand, status, report);
    return App().ValidatePackageSignature("/tmp/Pkg\\ Dir/a.pkg");
  }

  FakeShell shell_;
};

TEST_F(TargetAppCommandsTest, TheCheckRunsThePackageUtilityOnTheEscapedPath) {
  EXPECT_TRUE(Validate(0, std::string(kSigner) + "\n" + kIntermediate + "\n" + kRoot + "\n"));
  EXPECT_THAT(shell_.commands(),
              ElementsAre("/usr/sbin/pkgutil --check-signature /tmp/Pkg\\ Dir/a.pkg"));
  EXPECT_THAT(LogLines(), ElementsAre("PKG path for verification: /tmp/Pkg\\ Dir/a.pkg",
                                      "All certs present, pkg validation succeeded"));
}

TEST_F(TargetAppCommandsTest, EveryKindOfLineBreakSeparatesTheNames) {
  EXPECT_TRUE(Validate(0, std::string(kSigner) + "\r\n" + kIntermediate + "\xE2\x80\xA8" + kRoot));
}

TEST_F(TargetAppCommandsTest, OneLineMeetsOneConditionOnly) {
  EXPECT_FALSE(Validate(0, std::string(kSigner) + "\nApple Root CA, Developer ID Certification "
                                                  "Authority\n"));
}

TEST_F(TargetAppCommandsTest, BytesThatAreNotUtf8ElsewhereDoNotHideTheNames) {
  EXPECT_TRUE(Validate(0, std::string("Package \"caf\xE9.pkg\":\n") + kSigner + "\n" +
                              kIntermediate + "\n" + kRoot + "\n"));
}

TEST_F(TargetAppCommandsTest, AFailingCheckIsLoggedWithItsStatus) {
  EXPECT_FALSE(Validate(1, std::string(kSigner) + "\n" + kIntermediate + "\n" + kRoot + "\n"));
  EXPECT_THAT(LogLines(), ElementsAre("PKG path for verification: /tmp/Pkg\\ Dir/a.pkg",
                                      "Error in pkg validation",
                                      "TerminationStatus of pkg validation NSTask: 1"));
}

TEST_F(TargetAppCommandsTest, AnEmptyReportFailsWithoutALogLine) {
  EXPECT_FALSE(Validate(0, ""));
  EXPECT_THAT(LogLines(), ElementsAre("PKG path for verification: /tmp/Pkg\\ Dir/a.pkg"));
}

TEST_F(TargetAppCommandsTest, AShellThatCannotStartIsAFailureThatSaysWhy) {
  shell_.FailToStart();
  std::string output;
  EXPECT_FALSE(App().RunShellCommand("installer", output));
  EXPECT_THAT(output, ::testing::HasSubstr("Unable to start /bin/sh"));
  EXPECT_FALSE(App().ValidatePackageSignature("/a.pkg"));
  EXPECT_THAT(LogLines(), Not(Contains("All certs present, pkg validation succeeded")));
  EXPECT_EQ(LogLines().size(), 3u);
}

}  // namespace
