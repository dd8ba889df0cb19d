// The stand-ins for system tools (tests/support/fake_tool.cc) in one host
// folder: installs them under the names skiff runs, says how each behaves,
// and reads back how each was called. The tools find the folder through
// SKIFF_FAKE_TOOL_DIR, which their runner sets.
#ifndef SKIFF_TESTS_SUPPORT_FAKE_TOOLS_H_
#define SKIFF_TESTS_SUPPORT_FAKE_TOOLS_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class FakeTools {
 public:
  // The tools' files live in `folder`, which is created if missing.
  explicit FakeTools(std::string folder);

  const std::string& folder() const { return folder_; }

  // Copies the fake tool to `path` (on the host), replacing what was there.
  static void CopyTo(const std::string& path);
  // Places the fake tool at folder/name.
  void Install(const std::string& name) const { CopyTo(folder_ + "/" + name); }

  void SetOutput(const std::string& name, const std::string& text) const {
    Put(name, ".output", text);
  }
  // The output is written this many times.
  void SetRepeat(const std::string& name, uint64_t count) const {
    Put(name, ".repeat", std::to_string(count));
  }
  void SetSleep(const std::string& name, std::chrono::milliseconds duration) const {
    Put(name, ".sleep", std::to_string(duration.count()));
  }
  void SetSignal(const std::string& name, int number) const {
    Put(name, ".signal", std::to_string(number));
  }
  void SetStatus(const std::string& name, int status) const {
    Put(name, ".status", std::to_string(status));
  }

  // One entry per call, in order, holding the arguments after argv[0]; empty
  // when the tool was never called.
  std::vector<std::vector<std::string>> Calls(const std::string& name) const;

 private:
  void Put(const std::string& name, const std::string& suffix, const std::string& text) const;

  std::string folder_;
};

#endif  // SKIFF_TESTS_SUPPORT_FAKE_TOOLS_H_
