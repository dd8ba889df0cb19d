// skiff-root: runs a command inside a throwaway root (see --help).
#include <signal.h>

#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "tools/skiff-root/skiff_root_options.h"
#include "tools/throwaway_root/throwaway_root.h"

int main(int argc, char** argv) {
  SkiffRootOptions options;
  std::string error;
  if (!ParseSkiffRootOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    std::cerr << "skiff-root: " << error << "\nTry 'skiff-root --help'.\n";
    return 2;
  }
  if (options.help) {
    std::cout << kSkiffRootUsage;
    return 0;
  }
  // Without a limit, wait for as long as a steady clock can count.
  std::chrono::milliseconds timeout = std::chrono::hours(24 * 365 * 100);
  if (options.timeoutSeconds > 0) {
    timeout = std::chrono::milliseconds(static_cast<int64_t>(options.timeoutSeconds * 1000));
  }
  try {
    throwaway_root::RunningCommand running = throwaway_root::Start(options.command);
    // The terminal's interrupt reaches the command, which shares our process
    // group; we stay to report how it ended.
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    const throwaway_root::CommandOutcome outcome = running.Wait(timeout);
    if (outcome.timedOut) std::cerr << "skiff-root: timed out, " << outcome.Describe() << "\n";
    return outcome.termSignal != 0 ? 128 + outcome.termSignal : outcome.exitCode;
  } catch (const throwaway_root::ThrowawayRootError& failure) {
    std::cerr << "skiff-root: " << failure.what() << "\n";
    return 125;
  }
}
