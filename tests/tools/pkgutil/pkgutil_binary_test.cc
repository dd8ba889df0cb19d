// The pkgutil program as Skiff runs it, through the shell: what it prints
// where, and its exit status. The verdicts are the verdict table's; a valid
// package passing the real program is the end-to-end package test's. None of
// these rows gets as far as the machine's trust anchors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "tests/support/scoped_temp_dir.h"

namespace {

struct BinaryRow {
  const char* script;  // m: make a demo package p.pkg (with these options); c: check it
  int exit;
  const char* out;  // in standard output; "" for nothing at all
  const char* err;  // the same for standard error
};

const BinaryRow kRows[] = {
    {"m --unsigned && c", 1, "Status: no signature\n", ""},
    {"m --tamper && c", 1, "Status: package is invalid", "pkgutil: the TOC does not match"},
    {"printf %0100d 0 >p.pkg; c", 3, "Status: package is invalid", "magic"},
    {"c", 3, "Status: package is invalid", "pkgutil: No such file or directory\n"},
    {"c .", 3, "Status: package is invalid", "pkgutil: "},
    {"p", 2, "", "usage: pkgutil --check-signature PATH"},
    {"p --check-signature", 2, "", "usage: pkgutil --check-signature PATH"},
    {"p --check-signature a b", 2, "", "usage: pkgutil --check-signature PATH"},
    {"p --verify a", 2, "", "usage: pkgutil --check-signature PATH"},
};

::testing::Matcher<const std::string&> Shows(const char* text) {
  if (*text == '\0') return ::testing::IsEmpty();
  return ::testing::HasSubstr(text);
}

TEST(PkgutilBinaryTest, PrintsTheReportAndTheDetailApartAndExits) {
  ScopedTempDir dir;
  for (const BinaryRow& row : kRows) {
    const std::string script = "cd '" + dir.path() +
                               "' && rm -f p.pkg && m() { '" SKIFF_MAKE_TEST_PACKAGE_BINARY
                               "' p.pkg anchors \"$@\"; } && p() { '" SKIFF_PKGUTIL_BINARY
                               "' \"$@\"; } && "
                               "c() { p --check-signature \"${1:-p.pkg}\"; } && { " +
                               std::string(row.script) + "; } >out 2>err";
    const int status = std::system(script.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, row.exit) << row.script;
    EXPECT_THAT(ReadFileOrDie(dir.path() + "/out"), Shows(row.out)) << row.script;
    EXPECT_THAT(ReadFileOrDie(dir.path() + "/err"), Shows(row.err)) << row.script;
  }
}

}  // namespace
