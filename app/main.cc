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
  return SkiffMain(argc, argv, services);
}
