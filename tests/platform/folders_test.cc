#include "platform/folders.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "tests/support/scoped_temp_dir.h"

namespace {

// `folder()` with `name` set to `value` (unset for null); the old value is restored.
std::string With(const char* name, const char* value, const std::function<std::string()>& folder) {
  const char* old = std::getenv(name);
  const std::string saved = old != nullptr ? old : "";
  value != nullptr ? setenv(name, value, 1) : unsetenv(name);
  const std::string result = folder();
  old != nullptr ? setenv(name, saved.c_str(), 1) : unsetenv(name);
  return result;
}

TEST(FoldersTest, TemporaryFolderIsTmpdirWithASlash) {
  EXPECT_EQ(With("TMPDIR", "/var/T", [] { return TemporaryFolder(); }), "/var/T/");
  EXPECT_EQ(With("TMPDIR", "/var/T/", [] { return TemporaryFolder(); }), "/var/T/");
}

// Without TMPDIR: what may stand at the private folder's path, and whether it
// is taken.
TEST(FoldersTest, OtherwiseItIsTheUsersPrivateFolder) {
  struct Row {
    const char* what;
    // False when the obstacle cannot be made (as a user who is not root).
    std::function<bool(const std::string& path)> plant;
    bool taken;
  };
  const Row rows[] = {
      {"nothing", [](const std::string&) { return true; }, true},
      {"an own private folder",
       [](const std::string& path) { return mkdir(path.c_str(), 0700) == 0; }, true},
      {"a folder others may write",
       [](const std::string& path) {
         return mkdir(path.c_str(), 0700) == 0 && chmod(path.c_str(), 0703) == 0;
       },
       false},
      {"a folder the group may write",
       [](const std::string& path) {
         return mkdir(path.c_str(), 0700) == 0 && chmod(path.c_str(), 0730) == 0;
       },
       false},
      {"another user's folder",
       [](const std::string& path) {
         return mkdir(path.c_str(), 0700) == 0 && chown(path.c_str(), 65534, 65534) == 0;
       },
       false},
      {"a link to an own private folder",
       [](const std::string& path) {
         return mkdir((path + "-real").c_str(), 0700) == 0 &&
                symlink((path + "-real").c_str(), path.c_str()) == 0;
       },
       false},
      {"a file",
       [](const std::string& path) {
         WriteFileOrDie(path, "");
         return true;
       },
       false},
  };
  for (const Row& row : rows) {
    ScopedTempDir shared;
    const std::string folder = shared.path() + "/skiff-" + std::to_string(geteuid());
    if (!row.plant(folder)) continue;
    const mode_t mask = umask(0);
    const std::string result =
        With("TMPDIR", nullptr, [&shared] { return TemporaryFolder(shared.path() + "/"); });
    umask(mask);
    EXPECT_EQ(result, row.taken ? folder + "/" : "") << row.what;
    if (!row.taken) continue;
    struct stat info;
    ASSERT_EQ(lstat(folder.c_str(), &info), 0) << row.what;
    EXPECT_EQ(info.st_mode & 07777, 0700u) << row.what;
  }
  EXPECT_EQ(With("TMPDIR", "", [] { return TemporaryFolder("/nonexistent/"); }), "");
}

TEST(FoldersTest, HomeFolderFallsBackToThePasswordDatabase) {
  EXPECT_EQ(With("HOME", "/Users/someone", HomeFolder), "/Users/someone");
  EXPECT_EQ(With("HOME", nullptr, HomeFolder), getpwuid(getuid())->pw_dir);
}

}  // namespace
