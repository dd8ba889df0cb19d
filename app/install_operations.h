// The bodies of the two long operations, run on the runner's worker thread.
#ifndef SKIFF_APP_INSTALL_OPERATIONS_H_
#define SKIFF_APP_INSTALL_OPERATIONS_H_

#include <string>

#include "operation/operation_params.h"

class LogSink;
class TargetApp;

constexpr char kValidationFailedOutput[] = "PKG validation failed";

// Checks the package's signature and runs the system installer on it.
// `command` receives the command line run (it has no length limit), `output`
// what the installer printed or the failure text. True for an installer exit
// status of 0.
bool RunInstall(LogSink& log, TargetApp& targetApp, std::string& command, std::string& output,
                const InstallOperationParams& params);
// Runs the remover command, only for an installation on the Evergreen track.
bool RunUninstall(LogSink& log, TargetApp& targetApp, std::string& command, std::string& output,
                  const UninstallOperationParams& params);

#endif  // SKIFF_APP_INSTALL_OPERATIONS_H_
