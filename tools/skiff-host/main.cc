// skiff-host: starts skiff and acts as its installer host (see --help).
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/skiff-host/host_options.h"
#include "tools/skiff-host/host_session.h"
#include "tools/skiff-host/progress_display.h"

int main(int argc, char** argv) {
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    std::cerr << "skiff-host: " << error << "\n" << kSkiffHostUsage;
    return 2;
  }
  if (options.help) {
    std::cout << kSkiffHostUsage;
    return 0;
  }
  ProgressDisplay display(std::cout, isatty(STDOUT_FILENO) == 1);
  HostSession session(options, &display, &std::cerr);
  return session.Run();
}
