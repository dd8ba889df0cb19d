#include "platform/folders.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// `folder()` with `name` set to `value` (unset for null); the old value is restored.
std::string With(const char* name, const char* value, std::string (*folder)()) {
  const char* old = std::getenv(name);
  const std::string saved = old != nullptr ? old : "";
  value != nullptr ? setenv(name, value, 1) : unsetenv(name);
  const std::string result = folder();
  old != nullptr ? setenv(name, saved.c_str(), 1) : unsetenv(name);
  return result;
}

TEST(FoldersTest, TemporaryFolderEndsInASlash) {
  EXPECT_EQ(With("TMPDIR", "/var/T", TemporaryFolder), "/var/T/");
  EXPECT_EQ(With("TMPDIR", "/var/T/", TemporaryFolder), "/var/T/");
  EXPECT_EQ(With("TMPDIR", "", TemporaryFolder), "/tmp/");
  EXPECT_EQ(With("TMPDIR", nullptr, TemporaryFolder), "/tmp/");
}

TEST(FoldersTest, HomeFolderFallsBackToThePasswordDatabase) {
  EXPECT_EQ(With("HOME", "/Users/someone", HomeFolder), "/Users/someone");
  EXPECT_EQ(With("HOME", nullptr, HomeFolder), getpwuid(getuid())->pw_dir);
}

}  // namespace
