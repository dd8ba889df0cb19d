#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/bundle.h"
#include "platform/launcher.h"

extern char** environ;

namespace {

// Dispositions that Skiff itself may change (the pipe transport ignores
// SIGPIPE) and that an exec would otherwise hand on to the application.
constexpr int kSignalsReset[] = {SIGPIPE, SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,
                                 SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2};

// Owns the spawn attributes and file actions for the length of one start.
class SpawnSettings {
 public:
  SpawnSettings() {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnSettings() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  // 0 or an error number.
  int Prepare() {
    sigset_t noSignals;
    sigset_t defaults;
    sigemptyset(&noSignals);
    sigemptyset(&defaults);
    for (int signal : kSignalsReset) sigaddset(&defaults, signal);
    // A session of its own detaches the application from Skiff's terminal
    // and process group, so it outlives Skiff; descriptors beyond the
    // standard three (the log, the pipes) stay with Skiff.
    int error = posix_spawnattr_setflags(
        &attributes_, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (error == 0) error = posix_spawnattr_setsigmask(&attributes_, &noSignals);
    if (error == 0) error = posix_spawnattr_setsigdefault(&attributes_, &defaults);
    if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    return error;
  }

  const posix_spawnattr_t* attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
};

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
    int error = settings.Prepare();
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
