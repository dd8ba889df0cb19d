// The safety checks of a pipe path: before the channel opens it, and on what
// the open gave.
#ifndef SKIFF_BRIDGE_PIPE_PATH_CHECK_H_
#define SKIFF_BRIDGE_PIPE_PATH_CHECK_H_

#include <string>

// False when `path` itself is a symbolic link or has two or more hard links,
// either of which could redirect our traffic to a file someone else chose.
// Anything else passes, a path whose status cannot be read included; what the
// open then yields is checked with DescriptorIsLonePipe.
bool CheckPathIsSafe(const std::string& path);

// True when `fd` is a FIFO with exactly one link. The path may have changed
// since CheckPathIsSafe looked at it (the host gets up to a minute to connect),
// so only the opened descriptor tells what the channel would read or write.
bool DescriptorIsLonePipe(int fd);

// False for a name that would put the pipes outside their folder: empty,
// holding a slash, "." or "..".
bool IsPlainPipeName(const std::string& name);

#endif  // SKIFF_BRIDGE_PIPE_PATH_CHECK_H_
