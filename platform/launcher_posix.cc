#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/bundle.h"
#include "platform/launcher.h"
#include "platform/spawn_settings_posix.h"

extern char** environ;

namespace {

class PosixLauncher : public Launcher {
 public:
  bool OpenApplication(const std::string& bundlePath) override {
    const std::unique_ptr<Bundle> bundle = Bundle::Open(bundlePath);
    if (bundle == nullptr) return false;
    const std::string executable = bundle->executablePath();
    if (executable.empty()) return false;
    try {
      StartProcess(executable, {});
      return true;
    } catch (const PlatformException&) {
      return false;
    }
  }

  pid_t StartProcess(const std::string& executable,
                     const std::vector<std::string>& arguments) override {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    SpawnSettings settings;
    int error = settings.Prepare(/*newSession=*/true, /*outputFd=*/-1);
    pid_t pid = -1;
    // glibc reports a failed exec in the child as the error of posix_spawn.
    if (error == 0)
      error = posix_spawn(&pid, executable.c_str(), settings.actions(), settings.attributes(),
                          argv.data(), environ);
    if (error != 0)
      throw PlatformException("Unable to start " + executable + ": " + std::strerror(error));
    // The child is not waited for: it runs on its own, and Skiff ends soon.
    return pid;
  }
};

}  // namespace

std::unique_ptr<Launcher> CreateLauncher() { return std::make_unique<PosixLauncher>(); }
