// The command line of skiff-root.
#ifndef SKIFF_TOOLS_SKIFF_ROOT_SKIFF_ROOT_OPTIONS_H_
#define SKIFF_TOOLS_SKIFF_ROOT_SKIFF_ROOT_OPTIONS_H_

#include <string>
#include <vector>

#include "tools/throwaway_root/root_command.h"

struct SkiffRootOptions {
  bool help = false;
  double timeoutSeconds = 0;  // 0: no limit
  throwaway_root::RootCommand command;
};

extern const char kSkiffRootUsage[];

// Parses argv[1..]; on a mistake returns false and says why in `error`.
bool ParseSkiffRootOptions(const std::vector<std::string>& arguments, SkiffRootOptions* options,
                           std::string* error);

#endif  // SKIFF_TOOLS_SKIFF_ROOT_SKIFF_ROOT_OPTIONS_H_
