#include "tools/throwaway_root/running_command.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace throwaway_root {
namespace {

// Without pidfds (kernels before 5.3) the end of the program is noticed by
// polling at this pace.
constexpr std::chrono::milliseconds kReapInterval(20);

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

}  // namespace

RunningCommand::RunningCommand(pid_t pid, int outputFd, int errorOutputFd, bool ownProcessGroup)
    : pid_(pid),
      outputFd_(outputFd),
      errorOutputFd_(errorOutputFd),
      ownProcessGroup_(ownProcessGroup) {
  for (int fd : {outputFd_, errorOutputFd_}) {
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
#ifdef SYS_pidfd_open
  pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
#endif
}

RunningCommand::RunningCommand(RunningCommand&& other) noexcept { *this = std::move(other); }

RunningCommand& RunningCommand::operator=(RunningCommand&& other) noexcept {
  if (this != &other) {
    Release();
    pid_ = std::exchange(other.pid_, -1);
    outputFd_ = std::exchange(other.outputFd_, -1);
    errorOutputFd_ = std::exchange(other.errorOutputFd_, -1);
    pidFd_ = std::exchange(other.pidFd_, -1);
    ownProcessGroup_ = other.ownProcessGroup_;
    reaped_ = std::exchange(other.reaped_, true);
    outcome_ = std::move(other.outcome_);
  }
  return *this;
}

RunningCommand::~RunningCommand() { Release(); }

void RunningCommand::Release() {
  if (pid_ > 0 && !reaped_) {
    Kill();
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
  }
  CloseFd(&outputFd_);
  CloseFd(&errorOutputFd_);
  CloseFd(&pidFd_);
}

bool RunningCommand::Signal(int signal) {
  if (pid_ <= 0 || reaped_) return false;
  // The group may not exist yet if the child has not reached setpgid.
  if (ownProcessGroup_ && kill(-pid_, signal) == 0) return true;
  return kill(pid_, signal) == 0;
}

void RunningCommand::Kill() { Signal(SIGKILL); }

void RunningCommand::ReadAvailable(int* fd, std::string* text) {
  char buffer[16384];
  while (*fd >= 0) {
    const ssize_t count = read(*fd, buffer, sizeof(buffer));
    if (count > 0) {
      text->append(buffer, static_cast<size_t>(count));
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else if (count < 0 && errno == EAGAIN) {
      return;
    } else {
      CloseFd(fd);  // end of file, or an error that will not go away
    }
  }
}

void RunningCommand::Reap(int status) {
  reaped_ = true;
  if (WIFEXITED(status)) {
    outcome_.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    outcome_.termSignal = WTERMSIG(status);
  }
  // The program's writes are all in the pipes now; a child it left behind may
  // hold them open, so take what is there instead of waiting for end of file.
  ReadAvailable(&outputFd_, &outcome_.stdoutText);
  ReadAvailable(&errorOutputFd_, &outcome_.stderrText);
  CloseFd(&outputFd_);
  CloseFd(&errorOutputFd_);
  CloseFd(&pidFd_);
}

CommandOutcome RunningCommand::Wait(std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + timeout;
  while (!reaped_ && pid_ > 0) {
    int status = 0;
    const pid_t ended = waitpid(pid_, &status, WNOHANG);
    if (ended == pid_) {
      Reap(status);
      break;
    }
    if (ended < 0 && errno != EINTR) {
      // Reaped by someone else (a SIGCHLD handler, say): the status is lost.
      Reap(0);
      outcome_.exitCode = -1;
      break;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      Kill();
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      Reap(status);
      outcome_.timedOut = true;
      break;
    }
    pollfd fds[3];
    nfds_t count = 0;
    for (int fd : {outputFd_, errorOutputFd_, pidFd_}) {
      if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
    }
    const auto slice = pidFd_ >= 0 ? left : std::min(left, kReapInterval);
    if (count == 0) {
      usleep(static_cast<useconds_t>(slice.count()) * 1000);
    } else {
      poll(fds, count, static_cast<int>(std::min<int64_t>(slice.count(), 1 << 30)));
    }
    ReadAvailable(&outputFd_, &outcome_.stdoutText);
    ReadAvailable(&errorOutputFd_, &outcome_.stderrText);
  }
  return outcome_;
}

}  // namespace throwaway_root
