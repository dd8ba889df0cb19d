// Runs programs inside throwaway roots (see root_command.h).
//
//   throwaway_root::RootCommand command;
//   command.root = dir;                          // becomes "/"
//   command.argv = {"/bin/sh", "-c", "ls /"};
//   command.binds.push_back({hostFile, "/opt/tool", true});
//   throwaway_root::CommandOutcome outcome = throwaway_root::Run(command, 10s);
//
// Works as root and, where the kernel allows unprivileged user namespaces, as
// an ordinary user; the caller's uid and gid are root inside. Safe to use
// from several threads and processes at once, each with its own root.
#ifndef SKIFF_TOOLS_THROWAWAY_ROOT_THROWAWAY_ROOT_H_
#define SKIFF_TOOLS_THROWAWAY_ROOT_THROWAWAY_ROOT_H_

#include <chrono>

#include "tools/throwaway_root/root_command.h"
#include "tools/throwaway_root/running_command.h"

namespace throwaway_root {

// Prepares the root, enters it in a child process and starts the program.
// Returns once the program runs; throws ThrowawayRootError when it could not
// be started, with the reason.
RunningCommand Start(const RootCommand& command);

// Start, then Wait with `timeout`.
CommandOutcome Run(const RootCommand& command, std::chrono::milliseconds timeout);

}  // namespace throwaway_root

#endif  // SKIFF_TOOLS_THROWAWAY_ROOT_THROWAWAY_ROOT_H_
