#include "tools/skiff-host/host_session.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

extern char** environ;

namespace {

std::string OwnFolder() {
  char buffer[PATH_MAX];
  const ssize_t size = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (size <= 0) return "";
  const std::string path(buffer, static_cast<size_t>(size));
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

std::string ChooseSkiffBinary(const HostOptions& options) {
  if (!options.skiffPath.empty()) return options.skiffPath;
  const std::string folder = OwnFolder();
  if (!folder.empty() && access((folder + "skiff").c_str(), X_OK) == 0) return folder + "skiff";
  return "skiff";
}

HostSession::HostSession(const HostOptions& options, ProgressDisplay* display, std::ostream* errors)
    : options_(options),
      display_(display),
      errors_(errors),
      end_(options.pipeFolder, options.pipeName, options, this) {}

HostSession::~HostSession() = default;

int HostSession::Run() {
  if (!options_.UsesPipes()) {
    if (!StartSkiff()) return kHostSetupFailure;
    return WaitForSkiff();
  }
  if (!end_.PrepareFifos() || !StartSkiff()) return kHostSetupFailure;
  // A vanished skiff must show as a failed write, not end the host. The
  // terminal's interrupt reaches skiff too, and we stay to report how it
  // ended.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGINT, SIG_IGN);
  signal(SIGQUIT, SIG_IGN);
  if (!options_.neverConnect) {
    if (end_.Connect()) {
      end_.Exchange();
    } else if (SkiffHasEnded()) {
      *errors_ << "skiff-host: skiff ended before the pipes were connected\n";
    }
  }
  end_.Close();
  const int status = WaitForSkiff();
  if (WIFSIGNALED(waitStatus_)) {
    display_->ShowSignal(WTERMSIG(waitStatus_));
  } else {
    display_->ShowExit(status);
  }
  return status;
}

bool HostSession::StartSkiff() {
  const std::string binary = ChooseSkiffBinary(options_);
  std::vector<std::string> arguments = {binary};
  arguments.insert(arguments.end(), options_.skiffArguments.begin(), options_.skiffArguments.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  // skiff starts with default dispositions whatever the host ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  const bool searchPath = binary.find('/') == std::string::npos;
  const int result =
      searchPath ? posix_spawnp(&pid_, binary.c_str(), nullptr, &attributes, argv.data(), environ)
                 : posix_spawn(&pid_, binary.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    *errors_ << "skiff-host: cannot start " << binary << ": " << std::strerror(result) << "\n";
    pid_ = -1;
    return false;
  }
  return true;
}

bool HostSession::SkiffHasEnded() {
  if (ended_) return true;
  if (pid_ < 0) return true;
  pid_t result;
  do {
    result = waitpid(pid_, &waitStatus_, WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == pid_ || result < 0) ended_ = true;
  return ended_;
}

int HostSession::WaitForSkiff() {
  if (!ended_ && pid_ >= 0) {
    pid_t result;
    do {
      result = waitpid(pid_, &waitStatus_, 0);
    } while (result < 0 && errno == EINTR);
    ended_ = true;
    if (result < 0) return kHostSetupFailure;
  }
  if (WIFSIGNALED(waitStatus_)) return 128 + WTERMSIG(waitStatus_);
  return WEXITSTATUS(waitStatus_);
}

bool HostSession::PeerRunning() { return !SkiffHasEnded(); }

void HostSession::OnPacket(const CommPacket& packet) { display_->ShowPacket(packet); }

void HostSession::OnNote(const std::string& note) { display_->ShowNote(note); }

void HostSession::OnError(const std::string& message) {
  *errors_ << "skiff-host: " << message << "\n";
}
