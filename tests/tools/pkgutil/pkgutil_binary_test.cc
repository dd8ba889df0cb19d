// The pkgutil program as Skiff runs it: through the shell, inside a throwaway
// root whose /Library/Skiff/TrustAnchors is the test's own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "tests/tools/pkgutil/package_test_fixture.h"
#include "tools/throwaway_root/throwaway_root.h"

#ifndef SKIFF_PKGUTIL_BINARY
#error "SKIFF_PKGUTIL_BINARY must name the pkgutil executable"
#endif
#ifndef SKIFF_MAKE_TEST_PACKAGE_BINARY
#error "SKIFF_MAKE_TEST_PACKAGE_BINARY must name the make_test_package executable"
#endif

namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char kPkgutil[] = "/opt/skiff/sbin/pkgutil";
constexpr char kMakeTestPackage[] = "/opt/skiff/bin/make_test_package";
constexpr char kTrustFolder[] = "/Library/Skiff/TrustAnchors";

class PkgutilBinaryTest : public ::testing::Test {
 protected:
  throwaway_root::CommandOutcome Run(const std::vector<std::string>& argv) {
    throwaway_root::RootCommand command;
    command.root = root_.path();
    command.argv = argv;
    command.binds = {{SKIFF_PKGUTIL_BINARY, kPkgutil, true},
                     {SKIFF_MAKE_TEST_PACKAGE_BINARY, kMakeTestPackage, true}};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) command.environment[name] = value;
    }
    return throwaway_root::Run(command, std::chrono::seconds(120));
  }
  // The command line Skiff builds: the path's blanks escaped for the shell.
  throwaway_root::CommandOutcome CheckThroughShell(const std::string& escapedPath) {
    return Run({"/bin/sh", "-c", std::string(kPkgutil) + " --check-signature " + escapedPath});
  }

  ScopedTempDir root_;
};

// The demo packages carry both signatures and a time stamp of now.
TEST_F(PkgutilBinaryTest, DemoPackagesGetTheirStatusAndTheDetailOnStandardError) {
  struct Case {
    const char* option;
    int exitCode;
    const char* report;
    const char* detail;
  };
  const Case cases[] = {
      {"", 0,
       "Status: signed by a developer certificate issued by Apple for distribution\n"
       "   Signed with a trusted timestamp on: ",
       ""},
      {"--unsigned", 1, "Status: no signature\n", ""},
      {"--tamper", 1, "Status: package is invalid (checksum did not verify)\n",
       "pkgutil: the TOC does not match its stored sha256 checksum\n"},
      {"--expired", 1, "Status: signed by a certificate that has since expired\n",
       "pkgutil: certificate 1 (\"Developer ID Installer"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> make = {kMakeTestPackage, "/tmp/demo.pkg", kTrustFolder};
    if (*c.option != '\0') make.push_back(c.option);
    const auto made = Run(make);
    ASSERT_EQ(made.exitCode, 0) << c.option << ": " << made.Describe() << made.stderrText;
    const auto checked = CheckThroughShell("/tmp/demo.pkg");
    EXPECT_EQ(checked.exitCode, c.exitCode) << c.option << ": " << checked.stdoutText;
    EXPECT_THAT(checked.stdoutText, HasSubstr(c.report)) << c.option;
    if (*c.detail == '\0') {
      EXPECT_THAT(checked.stderrText, IsEmpty()) << c.option;
    } else {
      EXPECT_THAT(checked.stderrText, HasSubstr(c.detail)) << c.option;
    }
  }
}

TEST_F(PkgutilBinaryTest, FilesThatAreNoPackageExitThree) {
  WriteFileOrDie(root_.path() + "/tmp/garbage.pkg", std::string(100, '\x7f'));
  for (const char* path : {"/tmp/garbage.pkg", "/tmp/missing.pkg", "/tmp"}) {
    const auto outcome = CheckThroughShell(path);
    EXPECT_EQ(outcome.exitCode, 3) << path << ": " << outcome.stdoutText;
    EXPECT_THAT(outcome.stdoutText, HasSubstr("   Status: ")) << path;
  }
}

TEST_F(PkgutilBinaryTest, AnyOtherCommandLineIsAUsageError) {
  const std::vector<std::vector<std::string>> lines = {
      {kPkgutil},
      {kPkgutil, "--check-signature"},
      {kPkgutil, "--check-signature", "/tmp/a.pkg", "/tmp/b.pkg"},
      {kPkgutil, "--verify", "/tmp/a.pkg"},
  };
  for (const auto& argv : lines) {
    const auto outcome = Run(argv);
    EXPECT_EQ(outcome.exitCode, 2) << argv.size();
    EXPECT_THAT(outcome.stderrText, HasSubstr("usage: pkgutil --check-signature PATH"));
    EXPECT_THAT(outcome.stdoutText, IsEmpty());
  }
}

}  // namespace
