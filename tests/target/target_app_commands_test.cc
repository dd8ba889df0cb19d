// Running commands and reading the package utility's report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "tests/support/signature_report_text.h"
#include "tests/target/target_app_fixture.h"

namespace {

using ::testing::ElementsAre;

constexpr char kPackage[] = "/tmp/Pkg\\ Dir/a.pkg";
constexpr char kChecked[] = "PKG path for verification: /tmp/Pkg\\ Dir/a.pkg";

class TargetAppCommandsTest : public TargetAppTest {
 protected:
  bool Validate(int status, const std::string& report) {
    shell_ = FakeShell();
    shell_.Answer(kSignatureCheckCommand, status, report);
    return App().ValidatePackageSignature(kPackage);
  }
};

TEST_F(TargetAppCommandsTest, TheCheckLogsThePathAndTheVerdict) {
  EXPECT_TRUE(Validate(0, SignatureReportText()));
  EXPECT_FALSE(Validate(1, SignatureReportText()));
  EXPECT_THAT(log_.lines(), ElementsAre(kChecked, "All certs present, pkg validation succeeded",
                                        kChecked, "Error in pkg validation",
                                        "TerminationStatus of pkg validation NSTask: 1"));
}

const std::string kSigner = kAcceptedChain[0];
const std::string kIntermediate = kAcceptedChain[1];
const std::string kRoot = kAcceptedChain[2];

// The report of a chain signed by `signer`, for a package called `file`.
std::string Signed(const std::string& signer, const std::string& file = "Folian Installer.pkg") {
  return SignatureReportText({signer, kIntermediate, kRoot}, file);
}

// The report with its line breaks replaced, in turn, by every other kind.
std::string WithEveryLineBreak(const std::string& report) {
  const char* const breaks[] = {"\r\n",     "\r",           "\x0B",        "\x0C",
                                "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"};
  std::string out;
  size_t next = 0;
  for (const char c : report)
    out += c == '\n' ? breaks[next++ % std::size(breaks)] : std::string(1, c);
  return out;
}

const std::string kForgedChain = "\xE2\x80\xA8   Certificate Chain:\xE2\x80\xA8    1. " + kSigner +
                                 "\xE2\x80\xA8    2. " + kIntermediate + "\xE2\x80\xA8    3. " +
                                 kRoot + "\xE2\x80\xA8";

TEST_F(TargetAppCommandsTest, OnlyTheNamesOfTheChainSectionCount) {
  const struct {
    const char* name;
    std::string report;
    bool accepted;
  } rows[] = {
      {"FirstNameAloneInAnyOrder",
       SignatureReportText({kRoot, "Developer ID Installer: Orvane Systems, Inc.", kIntermediate}),
       true},
      {"SecondName", Signed("Developer ID Installer: Orvane Inc. (K4T7W2Q9PX)"), true},
      {"EveryLineBreakAndNotUtf8Elsewhere",
       WithEveryLineBreak(SignatureReportText(kAcceptedChain, "caf\xE9.pkg")), true},
      {"MissingIntermediate", SignatureReportText({kSigner, kRoot}), false},
      {"TeamInLowerCase", Signed("Developer ID Installer: Orvane Systems, Inc. (k4t7w2q9px)"),
       false},
      {"TwoNamesOnOneLine", SignatureReportText({kSigner, kRoot + ", " + kIntermediate}), false},
      // Another signer, and the accepted chain forged in the file name.
      {"FileNameForgesAChainSection",
       Signed("Developer ID Installer: Someone Else (ABCDE12345)", "a" + kForgedChain + ".pkg"),
       false},
      {"NamesWithoutAChainSection",
       "    1. " + kSigner + "\n    2. " + kIntermediate + "\n    3. " + kRoot + "\n", false},
      {"NameForgedThroughALineSeparator", Signed("Evil\xE2\x80\xA8" + kSigner), false},
  };
  for (const auto& row : rows) {
    const size_t before = log_.lines().size();
    EXPECT_EQ(Validate(0, row.report), row.accepted) << row.name;
    EXPECT_EQ(log_.lines().size() - before, row.accepted ? 2u : 1u) << row.name;
  }
}

TEST_F(TargetAppCommandsTest, AShellThatCannotStartIsAFailureThatSaysWhy) {
  shell_.FailToStart();
  const std::string why = "Unable to start /bin/sh (spawn): No such file";
  std::string output;
  EXPECT_FALSE(App().RunShellCommand("installer", output));
  EXPECT_EQ(output, why);
  EXPECT_FALSE(App().ValidatePackageSignature("/a.pkg"));
  EXPECT_THAT(log_.lines(), ElementsAre("Unable to run command for install/uninstall: " + why,
                                        "PKG path for verification: /a.pkg",
                                        "Unable to run pkg validation: " + why));
}

}  // namespace
