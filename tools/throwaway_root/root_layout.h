// The skeleton of a throwaway root: the mount points of the host trees, the
// host's top-level links, and a /tmp of its own.
#ifndef SKIFF_TOOLS_THROWAWAY_ROOT_ROOT_LAYOUT_H_
#define SKIFF_TOOLS_THROWAWAY_ROOT_ROOT_LAYOUT_H_

#include <string>
#include <vector>

#include "tools/throwaway_root/root_command.h"

namespace throwaway_root {

struct RootLayout {
  std::string root;               // canonical host path
  std::vector<BindMount> mounts;  // the standard mounts, in order
};

// Creates `root` if needed, the mount points usr, etc, dev and proc, tmp with
// mode 1777, and bin, lib, lib32, lib64, libx32, sbin as the host has them:
// the same symbolic link where the host has one, else a mount point for a
// read-only bind of the host's directory. Existing entries that already fit
// are kept, so a root can be entered again. Throws ThrowawayRootError.
RootLayout PrepareRootLayout(const std::string& root);

}  // namespace throwaway_root

#endif  // SKIFF_TOOLS_THROWAWAY_ROOT_ROOT_LAYOUT_H_
