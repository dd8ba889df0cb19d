#include "tests/support/fake_tools.h"

#include <filesystem>
#include <sstream>

#include "tests/support/scoped_temp_dir.h"

namespace fs = std::filesystem;

FakeTools::FakeTools(std::string folder) : folder_(std::move(folder)) {
  fs::create_directories(folder_);
}

void FakeTools::CopyTo(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  // Never write through an existing file: it may be a hard link to a build
  // output.
  fs::remove(path);
  fs::copy_file(SKIFF_FAKE_TOOL_BINARY, path);
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

void FakeTools::Put(const std::string& name, const std::string& suffix,
                    const std::string& text) const {
  WriteFileOrDie(folder_ + "/" + name + suffix, text);
}

std::vector<std::vector<std::string>> FakeTools::Calls(const std::string& name) const {
  const std::string path = folder_ + "/" + name + ".calls";
  std::vector<std::vector<std::string>> calls;
  std::istringstream records(PathExists(path) ? ReadFileOrDie(path) : "");
  for (std::string record; std::getline(records, record);) {
    calls.emplace_back();
    std::istringstream arguments(record);
    for (std::string argument; std::getline(arguments, argument, '\x1f');) {
      calls.back().push_back(argument);
    }
  }
  return calls;
}
