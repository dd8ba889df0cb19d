#include "platform/temporary_files.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/folders.h"
#include "platform/property_list_files.h"
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

TEST(FoldersTest, HomeAndTemporaryFoldersComeFromTheEnvironmentFirst) {
  EXPECT_EQ(With("TMPDIR", "/var/T", [] { return TemporaryFolder(); }), "/var/T/");
  EXPECT_EQ(With("TMPDIR", "/var/T/", [] { return TemporaryFolder(); }), "/var/T/");
  EXPECT_EQ(With("TMPDIR", "", [] { return TemporaryFolder("/nonexistent/"); }), "");
  EXPECT_EQ(With("HOME", "/Users/someone", HomeFolder), "/Users/someone");
  EXPECT_EQ(With("HOME", nullptr, HomeFolder), getpwuid(getuid())->pw_dir);
}

// Without TMPDIR it is the user's private folder in the shared one, taken only
// when nobody else can have put anything in it: whether it is taken when a
// folder of `mode` (none for 0) owned by `owner` stands at its path, or is
// reached through a link there.
TEST(FoldersTest, OtherwiseItIsTheUsersPrivateFolder) {
  const uid_t me = geteuid();
  const std::tuple<mode_t, uid_t, bool, bool> kRows[] = {
      {0, me, false, true},     {0700, me, false, true},     {0703, me, false, false},
      {0730, me, false, false}, {0700, 65534, false, false}, {0700, me, true, false}};
  for (const auto& [mode, owner, linked, taken] : kRows) {
    ScopedTempDir shared;
    const std::string folder = shared.path() + "/skiff-" + std::to_string(me);
    const std::string real = linked ? folder + "-real" : folder;
    if (mode != 0) {
      ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
      ASSERT_EQ(chmod(real.c_str(), mode), 0);
      if (chown(real.c_str(), owner, static_cast<gid_t>(-1)) != 0) continue;  // not root
    }
    ASSERT_EQ(linked ? symlink(real.c_str(), folder.c_str()) : 0, 0);
    const mode_t mask = umask(0);
    const std::string result =
        With("TMPDIR", nullptr, [&shared] { return TemporaryFolder(shared.path() + "/"); });
    umask(mask);
    EXPECT_EQ(result, taken ? folder + "/" : "") << mode << " " << owner << " " << linked;
    struct stat info;
    EXPECT_TRUE(!taken || (lstat(folder.c_str(), &info) == 0 && (info.st_mode & 07777) == 0700));
  }
}

// What stands at the path beforehand and what the regular file there (or the
// entry of the one thing EnsureFile refuses to replace, a full folder) holds
// afterwards. A link's target is never written to or created. Beforehand, the
// property-list files see a file where one stands, also through a link.
TEST(TemporaryFilesTest, EnsureFileReplacesAnythingButARegularFileWithoutFollowingIt) {
  const std::pair<std::string, std::string> kRows[] = {
      {"nothing", ""}, {"file", "kept"}, {"link", ""}, {"folder", ""}, {"full folder", "entry"}};
  for (const auto& [what, contents] : kRows) {
    const bool ensured = what != "full folder";
    ScopedTempDir dir;
    const std::string path = dir.path() + "/probe", target = dir.path() + "/target";
    if (what == "file") WriteFileOrDie(path, "kept");
    if (what == "link") WriteFileOrDie(target, "target");
    ASSERT_TRUE(what != "link" || symlink(target.c_str(), path.c_str()) == 0);
    if (what.find("folder") != std::string::npos) MakeDirectoriesOrDie(path);
    if (what == "full folder") WriteFileOrDie(path + "/entry", "entry");
    EXPECT_EQ(CreatePropertyListFiles()->HasFile(path), what == "file" || what == "link");
    EXPECT_EQ(CreateTemporaryFiles(dir.path() + "/")->EnsureFile(path), ensured) << what;
    EXPECT_EQ(ReadFileOrDie(ensured ? path : path + "/entry"), contents) << what;
    EXPECT_TRUE(what != "link" || ReadFileOrDie(target) == "target");
  }
}

TEST(TemporaryFilesTest, AMissingFolderOrFileSaysWhy) {
  const auto files = CreateTemporaryFiles("/nonexistent/");
  std::string lockError, removeError;
  EXPECT_EQ(files->LockFolder(&lockError), nullptr);
  EXPECT_FALSE(files->RemoveFile("/nonexistent/file", &removeError));
  EXPECT_EQ(lockError + "; " + removeError, "No such file or directory; No such file or directory");
}

// Parallel runs share the probe file: while one holds the lock, no other may
// create it under it or remove it.
TEST(TemporaryFilesTest, HoldersOfTheLockTakeTurns) {
  ScopedTempDir dir;
  const std::string probe = dir.path() + "/TempFileForLangPack.pdf";
  std::atomic<int> faults{0};
  std::vector<std::thread> runs;
  for (int i = 0; i < 100; ++i) {
    runs.emplace_back([&] {
      const auto files = CreateTemporaryFiles(dir.path() + "/");
      std::string error;
      const auto lock = files->LockFolder(&error);
      const bool made = lock != nullptr && files->EnsureFile(probe);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (!made || !PathExists(probe) || !files->RemoveFile(probe, &error)) ++faults;
    });
  }
  for (auto& run : runs) run.join();
  EXPECT_EQ(faults, 0);
}

}  // namespace
