#include "tools/throwaway_root/root_command.h"

#include <string.h>

namespace throwaway_root {

std::map<std::string, std::string> DefaultEnvironment() {
  return {{"PATH", "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"}, {"HOME", "/Users/tester"}};
}

std::string CommandOutcome::Describe() const {
  std::string text;
  if (termSignal != 0) {
    text = "killed by signal " + std::to_string(termSignal) + " (" + strsignal(termSignal) + ")";
  } else {
    text = "exit code " + std::to_string(exitCode);
  }
  if (timedOut) text += ", timed out";
  return text;
}

}  // namespace throwaway_root
