// Running a command line through the system shell and capturing what it says.
#ifndef SKIFF_PLATFORM_SHELL_H_
#define SKIFF_PLATFORM_SHELL_H_

#include <cstddef>
#include <memory>
#include <string>

struct ShellResult {
  // The exit status; 128 + the signal number for a command ended by a signal,
  // so that only a normal exit with 0 is ever 0.
  int status = -1;
  // Every byte written to standard output and standard error, in the order
  // written, undecoded.
  std::string output;
  // How far `output` is well-formed UTF-8 from its start (EndOfValidUtf8 in
  // platform/utf8_text.h), found while the bytes were read; 0 when not
  // checked.
  size_t validUtf8Bytes = 0;
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

// The address space a shell sets aside for a command's output before reading
// it: output up to this size is read in place, in one pass; more is moved to
// twice the room as often as needed.
constexpr size_t kReservedOutputBytes = 256 * 1024 * 1024;

std::unique_ptr<Shell> CreateShell(size_t reservedOutputBytes = kReservedOutputBytes);

#endif  // SKIFF_PLATFORM_SHELL_H_
