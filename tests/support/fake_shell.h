// A Shell that records each command line and answers from a script: the
// first rule whose prefix starts the command line gives the result.
#ifndef SKIFF_TESTS_SUPPORT_FAKE_SHELL_H_
#define SKIFF_TESTS_SUPPORT_FAKE_SHELL_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/launcher.h"
#include "platform/shell.h"

class FakeShell : public Shell {
 public:
  // A command line starting with `prefix` ends with `status` after printing
  // `output`.
  void Answer(std::string prefix, int status, std::string output) {
    rules_.push_back({std::move(prefix), {status, std::move(output)}});
  }
  // Every run throws, as when no shell can be started.
  void FailToStart() { failToStart_ = true; }

  ShellResult Run(const std::string& commandLine) override {
    commands_.push_back(commandLine);
    if (failToStart_) throw PlatformException("Unable to start /bin/sh (spawn): No such file");
    for (const auto& [prefix, result] : rules_) {
      if (commandLine.compare(0, prefix.size(), prefix) == 0) return result;
    }
    return {127, "sh: not found\n"};
  }

  const std::vector<std::string>& commands() const { return commands_; }

 private:
  std::vector<std::pair<std::string, ShellResult>> rules_;
  std::vector<std::string> commands_;
  bool failToStart_ = false;
};

#endif  // SKIFF_TESTS_SUPPORT_FAKE_SHELL_H_
