// The posix_spawn settings every child of Skiff starts with.
#ifndef SKIFF_PLATFORM_SPAWN_SETTINGS_POSIX_H_
#define SKIFF_PLATFORM_SPAWN_SETTINGS_POSIX_H_

#include <spawn.h>

// Owns the spawn attributes and file actions for the length of one start.
class SpawnSettings {
 public:
  SpawnSettings();
  ~SpawnSettings();
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  // 0 or an error number. The child starts with default dispositions for the
  // signals Skiff may change (the pipe transport ignores SIGPIPE), no blocked
  // signals and only the standard three descriptors (not the log or the
  // host's pipes). `newSession` detaches it from Skiff's terminal and process
  // group; `outputFd`, when not -1, becomes its standard output and error.
  int Prepare(bool newSession, int outputFd);

  const posix_spawnattr_t* attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
};

#endif  // SKIFF_PLATFORM_SPAWN_SETTINGS_POSIX_H_
