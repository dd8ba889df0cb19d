// Starting applications.
#ifndef SKIFF_PLATFORM_LAUNCHER_H_
#define SKIFF_PLATFORM_LAUNCHER_H_

#include <sys/types.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Raised by the platform layer when it cannot do what was asked.
class PlatformException : public std::runtime_error {
 public:
  explicit PlatformException(const std::string& what) : std::runtime_error(what) {}
};

class Launcher {
 public:
  virtual ~Launcher() = default;

  // The desktop's opening of the application bundle at `bundlePath`. True when
  // the request was accepted.
  virtual bool OpenApplication(const std::string& bundlePath) = 0;

  // Starts `executable` with exactly `arguments` as an independent process and
  // does not wait for it. Returns its process id; throws PlatformException when
  // it cannot be started.
  virtual pid_t StartProcess(const std::string& executable,
                             const std::vector<std::string>& arguments) = 0;
};

std::unique_ptr<Launcher> CreateLauncher();

#endif  // SKIFF_PLATFORM_LAUNCHER_H_
