// The fake macOS machine the end-to-end tests build around skiff.
#include "tests/support/skiff_root.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(SkiffRootTest, TheMacOSFoldersExistInsideAndTmpIsWorldWritable) {
  SkiffRoot root;
  const SkiffResult result = root.RunCommand(
      {"/bin/sh", "-c",
       "cd / && ls -d Applications 'Library/Application Support' Library/InstallerSandboxes "
       "System/Library/CoreServices Users/tester/Applications && echo $HOME && stat -c %a /tmp"});
  EXPECT_EQ(result.exitCode, 0) << result.stderrText;
  EXPECT_EQ(result.stdoutText,
            "Applications\nLibrary/Application Support\nLibrary/InstallerSandboxes\n"
            "System/Library/CoreServices\nUsers/tester/Applications\n/Users/tester\n1777\n");
}

TEST(SkiffRootTest, SkiffIsMountedReadOnlyAtItsFixedPath) {
  SkiffRoot root;
  const SkiffResult result = root.RunCommand(
      {"/bin/sh", "-c", "test -x /opt/skiff/bin/skiff && : > /opt/skiff/bin/skiff"});
  EXPECT_NE(result.exitCode, 0);
  EXPECT_THAT(result.stderrText, HasSubstr("Read-only file system"));
}

TEST(SkiffRootTest, TheRunnableProductRecordsEachStart) {
  SkiffRoot root;
  ProductInstallation installation;
  installation.executable = ProductExecutable::kRunnable;
  const std::string bundle = root.AddInstallation(installation);
  const std::string executable = bundle + "/Contents/MacOS/Folian";
  ASSERT_EQ(root.RunCommand({executable, "/z"}).exitCode, 0);
  ASSERT_EQ(root.RunCommand({executable}).exitCode, 0);
  ASSERT_EQ(root.RunCommand({executable, "two words", ""}).exitCode, 0);

  const std::vector<ProductLaunch> launches = root.WaitForLaunches(3);
  ASSERT_EQ(launches.size(), 3u);
  EXPECT_EQ(launches[0].program, executable);
  EXPECT_THAT(launches[0].arguments, ElementsAre("/z"));
  EXPECT_THAT(launches[1].arguments, ElementsAre());
  EXPECT_THAT(launches[2].arguments, ElementsAre("two words", ""));
}

TEST(SkiffRootTest, LogLinesLoseTheirTimestampButSeparatorsStay) {
  SkiffRoot root;
  EXPECT_THAT(root.LogLines(), ElementsAre());
  root.WriteFile(SkiffRoot::kLogPath,
                 "[2026-12-05_20-23-56] first run\n"
                 "/****************************************************/\n"
                 "[2026-12-05_20-24-01] second run\n"
                 "[2026-12-05_20-24-01] output: a\n"
                 "continued\n"
                 "[not a time] kept\n");
  EXPECT_THAT(root.LogLines(), ElementsAre("first run", SkiffRoot::kRunSeparator, "second run",
                                           "output: a", "continued", "[not a time] kept"));
  EXPECT_THAT(root.LastRunLogLines(),
              ElementsAre("second run", "output: a", "continued", "[not a time] kept"));
}

TEST(SkiffRootTest, EachRunOfSkiffLogsToTheRootsLog) {
  SkiffRoot root;
  root.RunSkiff({});
  root.RunSkiff({});
  const std::vector<std::string> lines = root.LogLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Skiff has launched"), 2);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), SkiffRoot::kRunSeparator), 1);
  EXPECT_EQ(root.LastRunLogLines().front(), "Skiff has launched");
}

// The executables the fixture writes are read by skiff as the processors
// they stand for.
struct ExecutableCase {
  const char* name;
  ProductExecutable kind;
  const char* platform;  // nullptr: no platform word, so not installed
};

void PrintTo(const ExecutableCase& value, std::ostream* out) { *out << value.name; }

class SkiffRootExecutableTest : public ::testing::TestWithParam<ExecutableCase> {};

TEST_P(SkiffRootExecutableTest, SkiffReportsThePlatformOfTheWrittenExecutable) {
  SkiffRoot root;
  ProductInstallation installation;
  installation.executable = GetParam().kind;
  root.AddInstallation(installation);
  root.WriteRequest("com.orvane.Folian.Pro_23.0,");
  const SkiffResult result = root.RunMode("getAppStatus");
  ASSERT_EQ(result.exitCode, 0) << result.Describe() << "\n" << result.stderrText;
  if (GetParam().platform == nullptr) {
    EXPECT_THAT(root.OutputDocument(), HasSubstr("<appStatus>not-installed</appStatus>"));
  } else {
    EXPECT_THAT(root.OutputDocument(),
                HasSubstr(std::string("<platform>") + GetParam().platform + "</platform>"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SkiffRootExecutableTest,
    ::testing::Values(ExecutableCase{"X86_64", ProductExecutable::kX86_64, "osx10-64"},
                      ExecutableCase{"Arm64", ProductExecutable::kArm64, "macarm64"},
                      ExecutableCase{"Universal", ProductExecutable::kUniversal, "macuniversal"},
                      ExecutableCase{"I386", ProductExecutable::kI386, nullptr},
                      ExecutableCase{"Runnable", ProductExecutable::kRunnable, "osx10-64"},
                      ExecutableCase{"Missing", ProductExecutable::kMissing, nullptr}),
    [](const ::testing::TestParamInfo<ExecutableCase>& info) { return info.param.name; });

TEST(SkiffRootTest, AViewerOrUndeclaredBundleIsNoInstallation) {
  for (PdfRole role : {PdfRole::kViewer, PdfRole::kNone}) {
    SkiffRoot root;
    ProductInstallation installation;
    installation.pdfRole = role;
    root.AddInstallation(installation);
    root.WriteRequest("com.orvane.Folian.Pro_23.0,");
    ASSERT_EQ(root.RunMode("getAppStatus").exitCode, 0);
    EXPECT_THAT(root.OutputDocument(), HasSubstr("<appStatus>not-installed</appStatus>"));
  }
}

TEST(SkiffRootTest, APreferenceFileMakesTheInstallationASingleClientOne) {
  SkiffRoot root;
  ProductInstallation installation;
  installation.foliSca = true;
  root.AddInstallation(installation);
  root.WriteInstallerPreferences("Evergreen", true, false);
  root.WriteRequest("com.orvane.Folian.Pro_23.0,", "upsell");
  ASSERT_EQ(root.RunMode("getAppStatus").exitCode, 0);
  EXPECT_THAT(root.OutputDocument(), HasSubstr("<appType>scamini</appType>"));
}

TEST(SkiffRootTest, AnOlderSystemVersionHidesTheArmSlice) {
  SkiffRoot root;
  ProductInstallation installation;
  installation.executable = ProductExecutable::kUniversal;
  root.AddInstallation(installation);
  root.WriteSystemVersion("10.15.7");
  root.WriteRequest("com.orvane.Folian.Pro_23.0,");
  ASSERT_EQ(root.RunMode("getAppStatus").exitCode, 0);
  EXPECT_THAT(root.OutputDocument(), HasSubstr("<platform>osx10-64</platform>"));
}

TEST(SkiffRootTest, ALaunchStartsTheRunnableProduct) {
  SkiffRoot root;
  ProductInstallation installation;
  installation.executable = ProductExecutable::kRunnable;
  root.AddInstallation(installation);
  root.WriteRequest("com.orvane.Folian.Pro");
  const SkiffResult result = root.RunMode("launchApp");
  ASSERT_EQ(result.exitCode, 0) << result.Describe() << "\n" << result.stderrText;
  const std::vector<ProductLaunch> launches = root.WaitForLaunches(1);
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].program, "/Applications/Orvane Folian.app/Contents/MacOS/Folian");
}

}  // namespace
