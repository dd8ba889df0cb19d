// The safety check for a pipe path that already exists before the channel
// opens it.
#ifndef SKIFF_BRIDGE_PIPE_PATH_CHECK_H_
#define SKIFF_BRIDGE_PIPE_PATH_CHECK_H_

#include <string>

// False when `path` itself is a symbolic link or has two or more hard links,
// either of which could redirect our traffic to a file someone else chose.
// Anything else passes, a path whose status cannot be read included; the path
// need not be a FIFO.
bool CheckPathIsSafe(const std::string& path);

#endif  // SKIFF_BRIDGE_PIPE_PATH_CHECK_H_
