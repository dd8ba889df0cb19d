#include "tests/support/fake_tools.h"

#include <filesystem>
#include <sstream>

#include "tests/support/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Each argument of a call is followed by the byte 0x1f, each call by a line
// end.
constexpr char kScript[] = R"sh(#!/bin/sh
d="${SKIFF_FAKE_TOOL_DIR:?}/${0##*/}"
for a in "$@"; do printf '%s\037' "$a"; done >>"$d.calls"
echo >>"$d.calls"
cat "$d.output" 2>/dev/null
ms=$(cat "$d.sleep" 2>/dev/null || echo 0)
[ "$ms" -gt 0 ] && sleep "$((ms / 1000)).$(printf %03d $((ms % 1000)))"
exit "$(cat "$d.status" 2>/dev/null || echo 0)"
)sh";

}  // namespace

FakeTools::FakeTools(std::string folder) : folder_(std::move(folder)) {
  fs::create_directories(folder_);
}

void FakeTools::WriteTo(const std::string& path) {
  WriteFileOrDie(path, kScript);
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

void FakeTools::Set(const std::string& name, const std::string& setting,
                    const std::string& text) const {
  WriteFileOrDie(folder_ + "/" + name + "." + setting, text);
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
