// The pkgutil program as Skiff runs it, through the shell inside a throwaway
// root whose /Library/Skiff/TrustAnchors is the test's own: what it prints
// where, and its exit status. The verdicts themselves are the verdict table's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "tests/support/scoped_temp_dir.h"
#include "tools/throwaway_root/throwaway_root.h"

namespace {

struct BinaryRow {
  const char* script;  // m: make a demo package at /tmp/p.pkg (its options); c: check it
  int exit;
  const char* out;  // in standard output; "" for nothing at all
  const char* err;  // the same for standard error
};

::testing::Matcher<const std::string&> Shows(const char* text) {
  if (*text == '\0') return ::testing::IsEmpty();
  return ::testing::HasSubstr(text);
}

const BinaryRow kRows[] = {
    {"m && c", 0, "Status: signed by a developer certificate issued by Apple for distribution", ""},
    {"m --unsigned && c", 1, "Status: no signature\n", ""},
    {"m --tamper && c", 1, "Status: package is invalid", "pkgutil: the TOC does not match"},
    {"m --expired && c", 1, "Status: signed by a certificate that has since expired\n",
     "\") expired on "},
    {"printf %0100d 0 >/tmp/p.pkg; c", 3, "Status: package is invalid", "magic"},
    {"c", 3, "Status: package is invalid", "pkgutil: No such file or directory\n"},
    {"pkgutil --check-signature /tmp", 3, "Status: package is invalid", "pkgutil: "},
    {"pkgutil", 2, "", "usage: pkgutil --check-signature PATH"},
    {"pkgutil --check-signature", 2, "", "usage: pkgutil --check-signature PATH"},
    {"pkgutil --check-signature /tmp/a /tmp/b", 2, "", "usage: pkgutil --check-signature PATH"},
    {"pkgutil --verify /tmp/a", 2, "", "usage: pkgutil --check-signature PATH"},
};

TEST(PkgutilBinaryTest, PrintsTheReportAndTheDetailApartAndExits) {
  ScopedTempDir root;
  throwaway_root::RootCommand command;
  command.root = root.path();
  command.binds = {{SKIFF_PKGUTIL_BINARY, "/opt/skiff/sbin/pkgutil", true},
                   {SKIFF_MAKE_TEST_PACKAGE_BINARY, "/opt/skiff/bin/make_test_package", true}};
  command.environment["PATH"] = "/opt/skiff/sbin:/opt/skiff/bin:/usr/bin:/bin";
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) command.environment[name] = value;
  }
  for (const BinaryRow& row : kRows) {
    command.argv = {"/bin/sh", "-c",
                    "m() { make_test_package /tmp/p.pkg /Library/Skiff/TrustAnchors \"$@\"; }; "
                    "c() { pkgutil --check-signature /tmp/p.pkg; }; rm -f /tmp/p.pkg; " +
                        std::string(row.script)};
    const auto outcome = throwaway_root::Run(command, std::chrono::seconds(120));
    EXPECT_EQ(outcome.exitCode, row.exit) << row.script << ": " << outcome.stderrText;
    EXPECT_THAT(outcome.stdoutText, Shows(row.out)) << row.script;
    EXPECT_THAT(outcome.stderrText, Shows(row.err)) << row.script;
  }
}

}  // namespace
