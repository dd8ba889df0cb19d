#include "platform/folders.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Sets or clears an environment variable for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(FoldersTest, LocalDomainFolders) {
  EXPECT_EQ(LocalLibraryFolder(), "/Library");
  EXPECT_EQ(LocalApplicationSupportFolder(), "/Library/Application Support");
}

TEST(FoldersTest, TemporaryFolderEndsInASlash) {
  {
    ScopedEnvironment tmp("TMPDIR", "/var/folders/xy/T");
    EXPECT_EQ(TemporaryFolder(), "/var/folders/xy/T/");
  }
  {
    ScopedEnvironment tmp("TMPDIR", "/private/tmp/");
    EXPECT_EQ(TemporaryFolder(), "/private/tmp/");
  }
  for (const char* unusable : {static_cast<const char*>(nullptr), ""}) {
    ScopedEnvironment tmp("TMPDIR", unusable);
    EXPECT_EQ(TemporaryFolder(), "/tmp/");
  }
}

TEST(FoldersTest, HomeFolderFallsBackToThePasswordDatabase) {
  {
    ScopedEnvironment home("HOME", "/Users/someone");
    EXPECT_EQ(HomeFolder(), "/Users/someone");
  }
  const passwd* entry = getpwuid(getuid());
  ASSERT_NE(entry, nullptr);
  ScopedEnvironment home("HOME", nullptr);
  EXPECT_EQ(HomeFolder(), entry->pw_dir);
}

}  // namespace
