#include "app/skiff_main.h"

#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/operation_runner.h"
#include "documents/input_xml_parser.h"
#include "documents/output_xml_writer.h"
#include "log/log_sink.h"
#include "operation/operation_params.h"
#include "operation/operation_type.h"
#include "operation/result_codes.h"

namespace {

const int kVersion[] = {23, 3, 20269};

std::string VersionString() {
  return std::to_string(kVersion[0]) + "." + std::to_string(kVersion[1]) + "." +
         std::to_string(kVersion[2]);
}

void RejectCommandLine(SkiffServices& services) {
  std::fputs(kUsageText, services.usageStream);
  std::fflush(services.usageStream);
  services.log.Log("Unable to Parse command line");
}

int RunMode(int argc, const char* const argv[], SkiffServices& services,
            std::unique_ptr<OperationParams>& params) {
  LogSink& log = services.log;
  if (argc < 5) {
    RejectCommandLine(services);
    return kResultSuccess;
  }
  CommandLineOptions options;
  const int count = ParseCommandLineOptions(argc, argv, &options);
  log.Log("Num of req params found: " + std::to_string(count));
  if (count != 4) {
    RejectCommandLine(services);
    return kResultSuccess;
  }

  OperationParams* parsed = nullptr;
  int parseResult;
  if (options.mode == "launchApp") {
    parseResult = services.parser.ParseLaunchInput(options.inputXml, parsed);
  } else if (options.mode == "getAppStatus") {
    parseResult = services.parser.ParseAppStatusInput(options.inputXml, options.outputXml, parsed);
  } else if (options.mode == "install") {
    parseResult = services.parser.ParseInstallInput(options.inputXml, parsed);
  } else if (options.mode == "uninstall") {
    parseResult = services.parser.ParseUninstallInput(options.inputXml, parsed);
  } else {
    RejectCommandLine(services);
    return kResultSuccess;
  }
  params.reset(parsed);
  if (parseResult == 0 && params) params->pipeName = options.pipeName;
  // An unreadable document is a failed run: exit 0 would tell the host that
  // nothing went wrong, and for getAppStatus that the output document at the
  // path, possibly one left by an earlier run, is the answer.
  if (parseResult != 0 || !params) {
    log.Log("Unable to Parse command line");
    return kResultFailure;
  }

  if (options.mode == "install") {
    log.Log("Install operation detected");
    return services.runner().DoOperation(OperationType::Install, params.get());
  }
  if (options.mode == "uninstall") {
    log.Log("Uninstall operation detected");
    return services.runner().DoOperation(OperationType::Uninstall, params.get());
  }
  if (options.mode == "launchApp") {
    log.Log("Launch operation detected");
    return services.runner().DoOperationSynchronously(OperationType::Launch, params.get());
  }
  log.Log("Get app status operation detected");
  services.runner().DoOperationSynchronously(OperationType::AppStatus, params.get());
  return services.writer.WriteOutputXml(*params);
}

}  // namespace

int SkiffMain(int argc, const char* const argv[], SkiffServices& services) {
  LogSink& log = services.log;
  log.Log("Skiff has launched");
  log.Log("Skiff version=" + VersionString());

  std::unique_ptr<OperationParams> params;
  int exitCode;
  try {
    exitCode = RunMode(argc, argv, services, params);
  } catch (...) {
    log.Log("Error thrown and caught in main");
    exitCode = kResultFailure;
  }
  params.reset();
  log.Log("Skiff exited with error code: " + std::to_string(exitCode));
  return exitCode;
}
