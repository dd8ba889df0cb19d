// The life of one Skiff process, over the services it is given.
#ifndef SKIFF_APP_SKIFF_MAIN_H_
#define SKIFF_APP_SKIFF_MAIN_H_

#include <cstdio>
#include <functional>

class InputXmlParser;
class LogSink;
class OperationRunner;
class OutputXmlWriter;

struct SkiffServices {
  LogSink& log;
  InputXmlParser& parser;
  // Created only once an operation is about to run.
  std::function<OperationRunner&()> runner;
  OutputXmlWriter& writer;
  FILE* usageStream;
};

// Returns the process's exit code.
int SkiffMain(int argc, const char* const argv[], SkiffServices& services);

#endif  // SKIFF_APP_SKIFF_MAIN_H_
