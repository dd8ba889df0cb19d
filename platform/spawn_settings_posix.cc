#include "platform/spawn_settings_posix.h"

#include <signal.h>
#include <unistd.h>

namespace {

constexpr int kSignalsReset[] = {SIGPIPE, SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,
                                 SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2};

}  // namespace

SpawnSettings::SpawnSettings() {
  posix_spawnattr_init(&attributes_);
  posix_spawn_file_actions_init(&actions_);
}

SpawnSettings::~SpawnSettings() {
  posix_spawn_file_actions_destroy(&actions_);
  posix_spawnattr_destroy(&attributes_);
}

int SpawnSettings::Prepare(bool newSession, int outputFd) {
  sigset_t noSignals;
  sigset_t defaults;
  sigemptyset(&noSignals);
  sigemptyset(&defaults);
  for (int signal : kSignalsReset) sigaddset(&defaults, signal);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (newSession) flags |= POSIX_SPAWN_SETSID;
  int error = posix_spawnattr_setflags(&attributes_, flags);
  if (error == 0) error = posix_spawnattr_setsigmask(&attributes_, &noSignals);
  if (error == 0) error = posix_spawnattr_setsigdefault(&attributes_, &defaults);
  if (error == 0 && outputFd >= 0) {
    error = posix_spawn_file_actions_adddup2(&actions_, outputFd, STDOUT_FILENO);
    if (error == 0) error = posix_spawn_file_actions_adddup2(&actions_, outputFd, STDERR_FILENO);
  }
  if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
  return error;
}
