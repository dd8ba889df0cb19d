// A program started inside a throwaway root, until it has been waited for.
#ifndef SKIFF_TOOLS_THROWAWAY_ROOT_RUNNING_COMMAND_H_
#define SKIFF_TOOLS_THROWAWAY_ROOT_RUNNING_COMMAND_H_

#include <sys/types.h>

#include <chrono>
#include <string>

#include "tools/throwaway_root/root_command.h"

namespace throwaway_root {

class RunningCommand {
 public:
  // Takes over the process and the read ends of its output pipes (-1 when
  // output is not captured).
  RunningCommand(pid_t pid, int outputFd, int errorOutputFd, bool ownProcessGroup);
  RunningCommand(RunningCommand&& other) noexcept;
  RunningCommand& operator=(RunningCommand&& other) noexcept;
  RunningCommand(const RunningCommand&) = delete;
  RunningCommand& operator=(const RunningCommand&) = delete;
  // A program still running is killed and reaped.
  ~RunningCommand();

  pid_t pid() const { return pid_; }

  // Collects output until the program ends and returns how it ended. At the
  // deadline the program (and its process group, if it leads one) is killed
  // with SIGKILL and the outcome says timedOut. Later calls return the same
  // outcome. Output is only read here: a program that writes more than a pipe
  // holds (64 KiB) before Wait is called blocks until then.
  CommandOutcome Wait(std::chrono::milliseconds timeout);

  // Sends `signal` to the program (to its group if it leads one); false when
  // it has already been reaped.
  bool Signal(int signal);

 private:
  void ReadAvailable(int* fd, std::string* text);
  void Reap(int status);
  void Kill();
  void Release();

  pid_t pid_ = -1;
  int outputFd_ = -1;
  int errorOutputFd_ = -1;
  int pidFd_ = -1;  // readable once the program has ended
  bool ownProcessGroup_ = false;
  bool reaped_ = false;
  CommandOutcome outcome_;
};

}  // namespace throwaway_root

#endif  // SKIFF_TOOLS_THROWAWAY_ROOT_RUNNING_COMMAND_H_
