// Runs the one operation of the process: launch and status on the caller's
// thread, install and uninstall on a worker while reporting to the host.
#ifndef SKIFF_APP_OPERATION_RUNNER_H_
#define SKIFF_APP_OPERATION_RUNNER_H_

#include <condition_variable>
#include <mutex>

#include "app/operation_params.h"
#include "app/operation_type.h"

class InstallerLog;
class TargetApp;

class OperationRunner {
 public:
  OperationRunner(InstallerLog& log, TargetApp& targetApp);

  static OperationRunner& GetInstance();

  // Install and uninstall. The caller keeps ownership of `params`.
  int DoOperation(OperationType type, OperationParams* params);
  // Launch and status.
  int DoOperationSynchronously(OperationType type, OperationParams* params);
  // The body of one operation; publishes its result under the mutex.
  void RunOperation(OperationType type, OperationParams* params);

 private:
  InstallerLog& log_;
  TargetApp& targetApp_;

  std::mutex mutex_;
  std::condition_variable doneCondition_;
  bool operationDone_ = false;
  int operationStatus_ = kResultFailure;

  // Touched only by the main thread.
  bool asyncBusy_ = false;
  bool syncBusy_ = false;
};

#endif  // SKIFF_APP_OPERATION_RUNNER_H_
