#include "tests/support/fake_tools.h"

#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "tests/support/scoped_temp_dir.h"

#ifndef SKIFF_FAKE_TOOL_BINARY
#error "SKIFF_FAKE_TOOL_BINARY must name the fake_tool executable"
#endif

namespace fs = std::filesystem;

FakeTools::FakeTools(std::string folder) : folder_(std::move(folder)) {
  fs::create_directories(folder_);
}

std::string FakeTools::BinaryPath() { return SKIFF_FAKE_TOOL_BINARY; }

std::string FakeTools::Install(const std::string& name) const {
  const std::string path = folder_ + "/" + name;
  std::error_code ignored;
  fs::remove(path, ignored);
  // A hard link is cheapest; across file systems a copy does the same.
  if (link(SKIFF_FAKE_TOOL_BINARY, path.c_str()) != 0) {
    fs::copy_file(SKIFF_FAKE_TOOL_BINARY, path, fs::copy_options::overwrite_existing);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  }
  return path;
}

void FakeTools::SetOutput(const std::string& name, const std::string& text) const {
  WriteFileOrDie(FilePath(name, ".output"), text);
}

void FakeTools::SetStderr(const std::string& name, const std::string& text) const {
  WriteFileOrDie(FilePath(name, ".stderr"), text);
}

void FakeTools::SetStatus(const std::string& name, int status) const {
  WriteFileOrDie(FilePath(name, ".status"), std::to_string(status));
}

void FakeTools::SetSleep(const std::string& name, std::chrono::milliseconds duration) const {
  WriteFileOrDie(FilePath(name, ".sleep"), std::to_string(duration.count()));
}

void FakeTools::SetSignal(const std::string& name, int signalNumber) const {
  WriteFileOrDie(FilePath(name, ".signal"), std::to_string(signalNumber));
}

void FakeTools::SetRepeat(const std::string& name, uint64_t count) const {
  WriteFileOrDie(FilePath(name, ".repeat"), std::to_string(count));
}

std::vector<std::vector<std::string>> FakeTools::Calls(const std::string& name) const {
  std::vector<std::vector<std::string>> calls;
  const std::string path = FilePath(name, ".calls");
  if (!PathExists(path)) return calls;
  std::istringstream records(ReadFileOrDie(path));
  for (std::string record; std::getline(records, record);) {
    std::vector<std::string> arguments;
    size_t start = 0;
    for (size_t end; (end = record.find('\x1f', start)) != std::string::npos; start = end + 1) {
      arguments.push_back(record.substr(start, end - start));
    }
    if (start != record.size()) throw std::runtime_error("unterminated argument in " + path);
    calls.push_back(arguments);
  }
  return calls;
}

std::string FakeTools::FilePath(const std::string& name, const std::string& suffix) const {
  return folder_ + "/" + name + suffix;
}
