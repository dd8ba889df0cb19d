// A directory that exists for the life of the object and is then removed with
// everything below it.
#ifndef SKIFF_TESTS_SUPPORT_SCOPED_TEMP_DIR_H_
#define SKIFF_TESTS_SUPPORT_SCOPED_TEMP_DIR_H_

#include <string>

class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  // Absolute, without a trailing slash.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Small file helpers for tests.
std::string ReadFileOrDie(const std::string& path);
void WriteFileOrDie(const std::string& path, const std::string& contents);
void MakeDirectoriesOrDie(const std::string& path);
bool PathExists(const std::string& path);

#endif  // SKIFF_TESTS_SUPPORT_SCOPED_TEMP_DIR_H_
