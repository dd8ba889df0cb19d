// The four options of Skiff's command line.
#ifndef SKIFF_APP_COMMAND_LINE_H_
#define SKIFF_APP_COMMAND_LINE_H_

#include <string>

struct CommandLineOptions {
  std::string mode;
  std::string inputXml;
  std::string outputXml;
  std::string pipeName;
};

constexpr char kUsageText[] =
    "Usage string: <path-to-exe> --mode=<launch-mode> --inputXml=<path-to-input-xml> "
    "--outputXml=<path-to-output-xml>";

// Stores the value of every argument after the program name that begins with
// one of the four prefixes (a later one replaces an earlier one) and returns
// how many matched. Other arguments are skipped.
int ParseCommandLineOptions(int argc, const char* const argv[], CommandLineOptions* options);

#endif  // SKIFF_APP_COMMAND_LINE_H_
