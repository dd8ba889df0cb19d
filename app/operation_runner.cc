#include "app/operation_runner.h"

#include <string>

#include "log/installer_log.h"
#include "target/target_app.h"

OperationRunner::OperationRunner(InstallerLog& log, TargetApp& targetApp)
    : log_(log), targetApp_(targetApp) {}

OperationRunner& OperationRunner::GetInstance() {
  static OperationRunner runner(InstallerLog::GetInstance(), TargetApp::GetInstance());
  return runner;
}

void OperationRunner::RunOperation(OperationType type, OperationParams* params) {
  log_.Log("In thread");
  bool success = false;
  switch (type) {
    case OperationType::Launch:
      success = targetApp_.launchTargetApp(*static_cast<LaunchOperationParams*>(params));
      break;
    case OperationType::AppStatus: {
      std::string response;
      success = targetApp_.generateAppStatusXml(*static_cast<AppStatusOperationParams*>(params),
                                                response);
      params->responseXml = response;
      break;
    }
    default:
      success = false;
      break;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  operationStatus_ = success ? kResultSuccess : kResultFailure;
  operationDone_ = true;
  doneCondition_.notify_one();
}

int OperationRunner::DoOperationSynchronously(OperationType type, OperationParams* params) {
  if (syncBusy_) return operationStatus_;
  syncBusy_ = true;
  log_.Log("In Do Operation Synchronously");
  RunOperation(type, params);
  syncBusy_ = false;
  return operationStatus_;
}

int OperationRunner::DoOperation(OperationType /*type*/, OperationParams* /*params*/) {
  if (asyncBusy_) return operationStatus_;
  asyncBusy_ = true;
  log_.Log("In Do Operation");
  // This build has no channel to the host yet, so it can never be opened.
  log_.Log("Not able to init comm bridge bailing out");
  operationStatus_ = kResultFailure;
  asyncBusy_ = false;
  return kResultFailure;
}
