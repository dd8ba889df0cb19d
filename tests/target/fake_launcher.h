// A launcher that records what it is asked and answers as told.
#ifndef SKIFF_TESTS_TARGET_FAKE_LAUNCHER_H_
#define SKIFF_TESTS_TARGET_FAKE_LAUNCHER_H_

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/launcher.h"

class FakeLauncher : public Launcher {
 public:
  enum class Start { kSucceed, kReturnMinusOne, kThrowPlatform, kThrowOther };

  bool OpenApplication(const std::string& bundlePath) override {
    opened.push_back(bundlePath);
    return openAnswer;
  }

  pid_t StartProcess(const std::string& executable,
                     const std::vector<std::string>& arguments) override {
    started.emplace_back(executable, arguments);
    switch (start) {
      case Start::kReturnMinusOne:
        return -1;
      case Start::kThrowPlatform:
        throw PlatformException("cannot start " + executable);
      case Start::kThrowOther:
        throw std::logic_error("unexpected");
      case Start::kSucceed:
        break;
    }
    return 4242;
  }

  Start start = Start::kSucceed;
  bool openAnswer = true;
  std::vector<std::string> opened;
  std::vector<std::pair<std::string, std::vector<std::string>>> started;
};

#endif  // SKIFF_TESTS_TARGET_FAKE_LAUNCHER_H_
