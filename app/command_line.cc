#include "app/command_line.h"

#include <cstring>

int ParseCommandLineOptions(int argc, const char* const argv[], CommandLineOptions* options) {
  struct Option {
    const char* prefix;
    std::string CommandLineOptions::*value;
  };
  static const Option kOptions[] = {
      {"--mode=", &CommandLineOptions::mode},
      {"--inputXml=", &CommandLineOptions::inputXml},
      {"--outputXml=", &CommandLineOptions::outputXml},
      {"--pipeName=", &CommandLineOptions::pipeName},
  };
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    for (const Option& option : kOptions) {
      const size_t length = std::strlen(option.prefix);
      if (std::strncmp(argv[i], option.prefix, length) == 0) {
        options->*option.value = argv[i] + length;
        ++count;
        break;
      }
    }
  }
  return count;
}
