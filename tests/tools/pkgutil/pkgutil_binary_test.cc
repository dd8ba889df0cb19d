// The pkgutil program as Skiff runs it, through the shell: the report on
// standard output, the detail on standard error, and its exit status, or the
// usage for a command line Skiff never gives. The verdicts are the verdict
// table's; a valid and a tampered package through the real program are the
// end-to-end table's. None of these rows gets as far as the machine's trust
// anchors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "tests/support/scoped_temp_dir.h"

namespace {

TEST(PkgutilBinaryTest, PrintsTheReportAndTheDetailApartAndExits) {
  const char kUsage[] = "usage: pkgutil --check-signature PATH\n";
  const struct {
    const char* arguments;
    int exit;
    const char* out;  // all of standard output
    const char* err;  // the start of standard error
  } rows[] = {
      {"--check-signature missing.pkg", 3,
       "Package \"missing.pkg\":\n   Status: package is invalid (checksum did not verify)\n",
       "pkgutil: No such file or directory\n"},
      {"--check-signature", 2, "", kUsage},
      {"--check-signature a b", 2, "", kUsage},
      {"--verify a", 2, "", kUsage},
  };
  ScopedTempDir dir;
  for (const auto& row : rows) {
    const std::string command =
        "cd '" + dir.path() + "' && '" SKIFF_PKGUTIL_BINARY "' " + row.arguments + " >out 2>err";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, row.exit) << row.arguments;
    EXPECT_EQ(ReadFileOrDie(dir.path() + "/out"), row.out) << row.arguments;
    EXPECT_THAT(ReadFileOrDie(dir.path() + "/err"), ::testing::StartsWith(row.err))
        << row.arguments;
  }
}

}  // namespace
