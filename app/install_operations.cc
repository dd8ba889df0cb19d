#include "app/install_operations.h"

#include "log/log_sink.h"
#include "target/target_app.h"

bool RunInstall(LogSink& log, TargetApp& targetApp, std::string& command, std::string& output,
                const InstallOperationParams& params) {
  log.Log("In RunInstall");
  if (!targetApp.ValidatePackageSignature(params.pkgPath)) {
    output = kValidationFailedOutput;
    return false;
  }
  // Composed without a length limit: a long package path is installed whole,
  // never cut.
  command = "installer -pkg " + params.pkgPath + " -tgt /";
  log.Log("PKG path sent: " + params.pkgPath);
  log.Log("command run: " + command);
  return targetApp.RunShellCommand(command, output);
}

bool RunUninstall(LogSink& log, TargetApp& targetApp, std::string& command, std::string& output,
                  const UninstallOperationParams& params) {
  log.Log("bundle id in RunUninstall: " + params.bundleId);
  if (!targetApp.isEvergreenTrackInstalled(params.bundleId)) {
    log.Log("Other track than Evergreen installed we will not uninstall");
    return false;
  }
  log.Log("Evergreen track found, uninstalling...");
  command = params.removerCommand;
  log.Log("command run: " + command);
  return targetApp.RunShellCommand(command, output);
}
