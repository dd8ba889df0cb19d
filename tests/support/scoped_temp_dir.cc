#include "tests/support/scoped_temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/regular_file.h"

namespace fs = std::filesystem;

ScopedTempDir::ScopedTempDir() : path_(fs::temp_directory_path().string() + "/skiff-test-XXXXXX") {
  if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + path_);
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  // Tests may leave read-only folders behind; make them removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

std::string ReadFileOrDie(const std::string& path) {
  std::string contents;
  if (!ReadRegularFile(path, size_t{1} << 40, &contents))
    throw std::runtime_error("cannot read " + path);
  return contents;
}

void WriteFileOrDie(const std::string& path, const std::string& contents) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out) throw std::runtime_error("cannot write " + path);
}

void MakeDirectoriesOrDie(const std::string& path) { fs::create_directories(path); }

bool PathExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}
