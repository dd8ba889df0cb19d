// The stand-ins for system tools skiff runs (the system installer, the
// remover tool, the package utility) in one host folder: installs them under
// the names skiff runs, says how each behaves, and reads back how each was
// called. A stand-in is a shell script that behaves by its own name N and by
// the files N.* in the folder named by SKIFF_FAKE_TOOL_DIR, which its runner
// sets: it appends its arguments to N.calls, writes N.output, sleeps N.sleep
// milliseconds and exits with N.status; a missing file means none or 0.
#ifndef SKIFF_TESTS_SUPPORT_FAKE_TOOLS_H_
#define SKIFF_TESTS_SUPPORT_FAKE_TOOLS_H_

#include <string>
#include <vector>

class FakeTools {
 public:
  // The tools' files live in `folder`, which is created if missing.
  explicit FakeTools(std::string folder);

  const std::string& folder() const { return folder_; }

  // Writes a stand-in at `path` (on the host), replacing what was there.
  static void WriteTo(const std::string& path);

  // How the tool `name` behaves: `setting` is "output", "sleep" or "status".
  void Set(const std::string& name, const std::string& setting, const std::string& text) const;

  // One entry per call, in order, holding the arguments after argv[0]; empty
  // when the tool was never called.
  std::vector<std::vector<std::string>> Calls(const std::string& name) const;

 private:
  std::string folder_;
};

#endif  // SKIFF_TESTS_SUPPORT_FAKE_TOOLS_H_
