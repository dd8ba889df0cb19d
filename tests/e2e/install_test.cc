// install run end to end under skiff-host: the signature gate, the system
// installer's command line, progress and the log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/skiff_root.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char kProxyPath[] = "/tmp/proxy.xml";
constexpr char kPackageName[] = "Folian Installer.pkg";

std::string Report(const std::vector<std::string>& chainNames) {
  return SignatureReport(kPackageName, chainNames);
}

const std::vector<std::string> kChain = {
    "Developer ID Installer: Orvane Systems, Inc. (K4T7W2Q9PX)",
    "Developer ID Certification Authority", "Apple Root CA"};

class InstallTest : public ::testing::Test {
 protected:
  InstallTest() {
    root_.Tools().SetOutput("pkgutil", Report(kChain));
    root_.Tools().SetOutput("installer", "installer: The install was successful.\n");
    WriteInput("/tmp/Pkg Dir");
  }

  void WriteInput(const std::string& sourceFolder, const std::string& name = kPackageName) {
    root_.WriteFile(kProxyPath, InstallProxyDocument(name));
    root_.WriteFile(SkiffRoot::kInputPath, DeploymentDocument({{"installSourcePath", sourceFolder},
                                                               {"proxyFile", kProxyPath}}));
  }

  SkiffResult Install(const std::vector<std::string>& hostOptions = {},
                      std::chrono::milliseconds timeout = SkiffRoot::kDefaultTimeout) {
    return root_.RunHost("install", hostOptions, SkiffRoot::kInputPath, timeout);
  }

  std::vector<std::vector<std::string>> InstallerCalls() {
    return root_.Tools().Calls("installer");
  }

  SkiffRoot root_;
};

TEST_F(InstallTest, ASignedPackageIsInstalledWithProgressAndEveryStepLogged) {
  root_.Tools().SetSleep("installer", std::chrono::milliseconds(1600));
  const SkiffResult result = Install();
  ASSERT_EQ(result.exitCode, 0) << result.Describe() << result.stderrText;

  const std::string path = "/tmp/Pkg Dir/Folian Installer.pkg";
  EXPECT_THAT(root_.Tools().Calls("pkgutil"),
              ElementsAre(std::vector<std::string>{"--check-signature", path}));
  EXPECT_THAT(InstallerCalls(), ElementsAre(std::vector<std::string>{"-pkg", path, "-tgt", "/"}));
  EXPECT_THAT(result.stdoutText, HasSubstr("progress 10\n"));
  EXPECT_THAT(result.stdoutText, HasSubstr("progress 100\nresult: success"));

  const std::string escaped = "/tmp/Pkg\\ Dir/Folian\\ Installer.pkg";
  const auto lines = root_.LastRunLogLines();
  EXPECT_EQ(FirstMissingInOrder(
                lines, {"In thread", "In RunInstall", "PKG path for verification: " + escaped,
                        "All certs present, pkg validation succeeded", "PKG path sent: " + escaped,
                        "command run: installer -pkg " + escaped + " -tgt /",
                        "RetVal of NSTask: for install/uninstall: 0",
                        "Output of install command: installer: The install was "
                        "successful."}),
            "");
  EXPECT_EQ(FirstMissingInOrder(
                lines, {"Install operation detected", "In Do Operation", "After init comm bridge",
                        "Thread created", "In while loop pre wait", "In while loop post wait",
                        "Operation status: 1", "Thread is done, I have been notified",
                        "Operation complete", "Terminate pkt received",
                        "Skiff exited with error code: 0"}),
            "");
  // The pipes stay for the next run.
  EXPECT_TRUE(root_.Exists("/tmp/skiff-e2e_IN"));
  EXPECT_TRUE(root_.Exists("/tmp/skiff-e2e_OUT"));
}

struct ReportCase {
  const char* name;
  std::string report;
  int status;
  bool accepted;
  friend void PrintTo(const ReportCase& value, std::ostream* out) { *out << value.name; }
};

class SignatureReportTest : public InstallTest, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(SignatureReportTest, OnlyAReportNamingTheWholeChainLetsTheInstallerRun) {
  root_.Tools().SetOutput("pkgutil", GetParam().report);
  root_.Tools().SetStatus("pkgutil", GetParam().status);
  const SkiffResult result = Install();
  const auto lines = root_.LastRunLogLines();
  if (GetParam().accepted) {
    EXPECT_EQ(result.exitCode, 0) << result.Describe();
    EXPECT_EQ(InstallerCalls().size(), 1u);
    return;
  }
  EXPECT_EQ(result.exitCode, 38) << result.Describe();
  EXPECT_THAT(InstallerCalls(), IsEmpty());
  EXPECT_THAT(result.stdoutText, HasSubstr("error 38\n"));
  EXPECT_EQ(FirstMissingInOrder(lines, {"Output of install command: PKG validation failed",
                                        "Operation failed", "Skiff exited with error code: 38"}),
            "");
  if (GetParam().status != 0) {
    EXPECT_EQ(FirstMissingInOrder(lines, {"Error in pkg validation",
                                          "TerminationStatus of pkg validation NSTask: " +
                                              std::to_string(GetParam().status)}),
              "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Variants, SignatureReportTest,
    ::testing::Values(
        ReportCase{"RootFirst", Report({kChain[2], kChain[0], kChain[1]}), 0, true},
        ReportCase{
            "SecondSigningName",
            Report({"Developer ID Installer: Orvane Inc. (K4T7W2Q9PX)", kChain[1], kChain[2]}), 0,
            true},
        ReportCase{"TwoNamesOnOneLine",
                   Report({kChain[0], "Apple Root CA / Developer ID Certification Authority"}), 0,
                   false},
        ReportCase{"MissingIntermediate", Report({kChain[0], kChain[2]}), 0, false},
        ReportCase{"OtherSigner",
                   Report({"Developer ID Installer: Someone Else", kChain[1], kChain[2]}), 0,
                   false},
        ReportCase{"NonZeroStatus", Report(kChain), 1, false},
        ReportCase{"EmptyOutput", "", 0, false}),
    [](const ::testing::TestParamInfo<ReportCase>& info) { return std::string(info.param.name); });

}  // namespace
