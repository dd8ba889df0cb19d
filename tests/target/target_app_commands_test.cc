// Running commands and reading the package utility's report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "tests/support/signature_report_text.h"
#include "tests/target/target_app_fixture.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

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

TEST_F(TargetAppCommandsTest, TheCheckRunsThePackageUtilityOnTheEscapedPathAndLogsTheVerdict) {
  EXPECT_TRUE(Validate(0, SignatureReportText()));
  EXPECT_THAT(shell_.commands(), ElementsAre(std::string(kSignatureCheckCommand) + kPackage));
  EXPECT_FALSE(Validate(1, SignatureReportText()));
  EXPECT_FALSE(Validate(0, ""));
  EXPECT_THAT(log_.lines(), ElementsAre(kChecked, "All certs present, pkg validation succeeded",
                                        kChecked, "Error in pkg validation",
                                        "TerminationStatus of pkg validation NSTask: 1", kChecked));
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
  for (const char c : report) {
    out += c == '\n' ? breaks[next++ % std::size(breaks)] : std::string(1, c);
  }
  return out;
}

struct ReportCase {
  const char* name;
  std::string report;
  bool accepted;
  friend void PrintTo(const ReportCase& value, std::ostream* out) { *out << value.name; }
};

class SignatureReportTest : public TargetAppCommandsTest,
                            public ::testing::WithParamInterface<ReportCase> {};

TEST_P(SignatureReportTest, OnlyTheNamesOfTheChainSectionCount) {
  EXPECT_EQ(Validate(0, GetParam().report), GetParam().accepted);
  EXPECT_EQ(log_.lines().size(), GetParam().accepted ? 2u : 1u);
}

const std::string kForgedChain = "\xE2\x80\xA8   Certificate Chain:\xE2\x80\xA8    1. " + kSigner +
                                 "\xE2\x80\xA8    2. " + kIntermediate + "\xE2\x80\xA8    3. " +
                                 kRoot + "\xE2\x80\xA8";

INSTANTIATE_TEST_SUITE_P(
    Variants, SignatureReportTest,
    ::testing::Values(
        ReportCase{"FirstNameAloneInAnyOrder",
                   SignatureReportText({kRoot, "Developer ID Installer: Orvane Systems, Inc.",
                                        kIntermediate}),
                   true},
        ReportCase{"SecondName", Signed("Developer ID Installer: Orvane Inc. (K4T7W2Q9PX)"), true},
        ReportCase{"EveryLineBreakAndNotUtf8Elsewhere",
                   WithEveryLineBreak(SignatureReportText(kAcceptedChain, "caf\xE9.pkg")), true},
        ReportCase{"MissingIntermediate", SignatureReportText({kSigner, kRoot}), false},
        ReportCase{"TeamInLowerCase",
                   Signed("Developer ID Installer: Orvane Systems, Inc. (k4t7w2q9px)"), false},
        ReportCase{"TwoNamesOnOneLine",
                   SignatureReportText({kSigner, kRoot + ", " + kIntermediate}), false},
        // Another signer, and the accepted chain forged in the file name.
        ReportCase{"FileNameForgesAChainSection",
                   Signed("Developer ID Installer: Someone Else (ABCDE12345)",
                          "a" + kForgedChain + ".pkg"),
                   false},
        ReportCase{"NamesWithoutAChainSection",
                   "    1. " + kSigner + "\n    2. " + kIntermediate + "\n    3. " + kRoot + "\n",
                   false},
        ReportCase{"NameForgedThroughALineSeparator", Signed("Evil\xE2\x80\xA8" + kSigner), false}),
    [](const ::testing::TestParamInfo<ReportCase>& info) { return std::string(info.param.name); });

TEST_F(TargetAppCommandsTest, AShellThatCannotStartIsAFailureThatSaysWhy) {
  shell_.FailToStart();
  std::string output;
  EXPECT_FALSE(App().RunShellCommand("installer", output));
  EXPECT_THAT(output, ::testing::HasSubstr("Unable to start /bin/sh"));
  EXPECT_FALSE(App().ValidatePackageSignature("/a.pkg"));
  EXPECT_THAT(log_.lines(), Not(Contains("All certs present, pkg validation succeeded")));
  EXPECT_EQ(log_.lines().size(), 3u);
}

}  // namespace
