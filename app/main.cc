#include <cstdio>
#include <cstdlib>

#include "app/operation_runner.h"
#include "app/skiff_main.h"
#include "documents/input_xml_parser.h"
#include "documents/output_xml_writer.h"
#include "log/installer_log.h"

int main(int argc, char* argv[]) {
  InstallerLog& log = InstallerLog::GetInstance();
  InputXmlParser parser(log);
  OutputXmlWriter writer(log);
  SkiffServices services{log, parser,
                         []() -> OperationRunner& { return OperationRunner::GetInstance(); },
                         writer, stderr};
  const int exitCode = SkiffMain(argc, argv, services);
  // After the time limit the worker may still be running its command; the
  // objects it uses must not be destroyed under it. Every log line is already
  // flushed.
  if (OperationRunner::AnyWorkerRunning()) {
    std::fflush(nullptr);
    std::_Exit(exitCode);
  }
  return exitCode;
}
