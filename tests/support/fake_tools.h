// The stand-ins for system tools (tests/support/fake_tool.cc) in one host
// folder: installs them under the names skiff runs, says how each behaves,
// and reads back how each was called.
#ifndef SKIFF_TESTS_SUPPORT_FAKE_TOOLS_H_
#define SKIFF_TESTS_SUPPORT_FAKE_TOOLS_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class FakeTools {
 public:
  // The tools and their files live in `folder`, which is created if missing.
  explicit FakeTools(std::string folder);

  const std::string& folder() const { return folder_; }
  // The fake_tool executable that Install places.
  static std::string BinaryPath();

  // Places the fake tool at folder/name, replacing what was there; returns
  // that path.
  std::string Install(const std::string& name) const;

  void SetOutput(const std::string& name, const std::string& text) const;
  void SetStderr(const std::string& name, const std::string& text) const;
  void SetStatus(const std::string& name, int status) const;
  void SetSleep(const std::string& name, std::chrono::milliseconds duration) const;
  void SetSignal(const std::string& name, int signalNumber) const;
  // The output is written this many times.
  void SetRepeat(const std::string& name, uint64_t count) const;

  // One entry per call, in order, holding the arguments after argv[0]; empty
  // when the tool was never called.
  std::vector<std::vector<std::string>> Calls(const std::string& name) const;

 private:
  std::string FilePath(const std::string& name, const std::string& suffix) const;

  std::string folder_;
};

#endif  // SKIFF_TESTS_SUPPORT_FAKE_TOOLS_H_
