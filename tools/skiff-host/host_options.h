// The command line of skiff-host: its own options, and the options it hands
// on to skiff unchanged.
#ifndef SKIFF_TOOLS_SKIFF_HOST_HOST_OPTIONS_H_
#define SKIFF_TOOLS_SKIFF_HOST_HOST_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/skiff-host/host_behaviour.h"

struct HostOptions : HostBehaviour {
  bool help = false;
  // Empty: skiff beside our own executable, else skiff through PATH.
  std::string skiffPath;
  // Always ends with a slash.
  std::string pipeFolder = "/tmp/";
  // The Skiff options as given, in order, then everything after "--".
  std::vector<std::string> skiffArguments;
  // The values skiff will take from those options: the last one of each wins.
  std::string mode;
  std::string pipeName;

  // Never opens the FIFOs; the other ways to misbehave are those of the
  // pipes' end.
  bool neverConnect = false;

  // install and uninstall talk over the pipes; every other run just waits.
  bool UsesPipes() const;
};

extern const char kSkiffHostUsage[];

// Parses argv[1..]; on a mistake returns false and says why in `error`.
bool ParseHostOptions(const std::vector<std::string>& arguments, HostOptions* options,
                      std::string* error);

#endif  // SKIFF_TOOLS_SKIFF_HOST_HOST_OPTIONS_H_
