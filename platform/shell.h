// Running a command line through the system shell and capturing what it says.
#ifndef SKIFF_PLATFORM_SHELL_H_
#define SKIFF_PLATFORM_SHELL_H_

#include <memory>
#include <string>

struct ShellResult {
  // The exit status; 128 + the signal number for a command ended by a signal,
  // so that only a normal exit with 0 is ever 0.
  int status = -1;
  // Every byte written to standard output and standard error, in the order
  // written, undecoded; with a little spare capacity (shell_posix.cc).
  std::string output;
};

class Shell {
 public:
  virtual ~Shell() = default;

  // Runs "/bin/sh" "-c" `commandLine` with one pipe as its standard output and
  // standard error, reads the pipe to end of file and only then waits for the
  // exit. Standard input and the environment are inherited. Throws
  // PlatformException (platform/launcher.h) when the shell cannot be started.
  virtual ShellResult Run(const std::string& commandLine) = 0;
};

std::unique_ptr<Shell> CreateShell();

#endif  // SKIFF_PLATFORM_SHELL_H_
