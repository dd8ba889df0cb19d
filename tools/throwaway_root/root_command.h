// What to run inside a throwaway root, and what came of it.
//
// A throwaway root is a host directory that a command sees as "/": the command
// runs in a new user and mount namespace in which the host's /usr, /etc and
// /dev (read-only) and /proc are bind-mounted into the directory, the
// directory's own /bin, /lib, /lib64, /sbin mirror the host's links, and
// everything else (/tmp, /Library, /Applications, ...) is the directory's own.
// Nothing the command does reaches the host's folders outside the root.
#ifndef SKIFF_TOOLS_THROWAWAY_ROOT_ROOT_COMMAND_H_
#define SKIFF_TOOLS_THROWAWAY_ROOT_ROOT_COMMAND_H_

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace throwaway_root {

// A host file or directory made visible at `target` inside the root. Applied in
// order after the standard mounts, so a later one may cover part of an earlier
// one (a folder over /usr/sbin, say). A missing mount point is created inside
// the root; inside the read-only host trees (/usr, /etc, /dev) it must exist.
struct BindMount {
  std::string source;  // host path
  std::string target;  // absolute path inside the root
  bool readOnly = false;
};

// An empty tmpfs of at most `sizeBytes` bytes at `target` inside the root,
// mounted after the binds and gone when the program ends: a small file
// system that a test can fill up. The mount point is created like a bind's.
struct TmpfsMount {
  std::string target;  // absolute path inside the root
  uint64_t sizeBytes = 0;
};

// PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin and HOME=/Users/tester.
std::map<std::string, std::string> DefaultEnvironment();

struct RootCommand {
  // Host directory that becomes "/". Created if missing.
  std::string root;
  // The program inside the root: a path with a slash, or a name looked up in
  // the PATH of `environment`. Empty means argv[0].
  std::string executable;
  // The argument vector as the program receives it, argv[0] included; may be
  // empty when `executable` is set.
  std::vector<std::string> argv;
  std::vector<BindMount> binds;
  std::vector<TmpfsMount> tmpfsMounts;
  // Inside the root.
  std::string workingDirectory = "/";
  // The whole environment of the program; nothing is inherited from the host.
  std::map<std::string, std::string> environment = DefaultEnvironment();
  // Output goes to pipes read by RunningCommand::Wait; otherwise the program
  // shares this process's standard output and error.
  bool captureOutput = true;
  // Standard input is /dev/null unless inherited.
  bool inheritStdin = false;
  // The program leads a process group of its own, so a timeout kills its
  // children as well. Off for interactive use, where the terminal's signals
  // must reach it.
  bool ownProcessGroup = true;
};

struct CommandOutcome {
  int exitCode = -1;      // -1 when ended by a signal
  int termSignal = 0;     // the signal that ended it, else 0
  bool timedOut = false;  // killed by Wait at its deadline
  std::string stdoutText;
  std::string stderrText;

  // "exit code 3", "killed by signal 9 (timed out)", for failure messages.
  std::string Describe() const;
};

// The root could not be entered or the program not started: user namespaces
// are unavailable, a mount failed, the executable is missing, ... The message
// says which, e.g. "user namespaces are unavailable: unshare: Operation not
// permitted".
class ThrowawayRootError : public std::runtime_error {
 public:
  explicit ThrowawayRootError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace throwaway_root

#endif  // SKIFF_TOOLS_THROWAWAY_ROOT_ROOT_COMMAND_H_
