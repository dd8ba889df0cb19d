// Runs the one operation of the process: launch and status on the caller's
// thread, install and uninstall on a worker while reporting to the host.
#ifndef SKIFF_APP_OPERATION_RUNNER_H_
#define SKIFF_APP_OPERATION_RUNNER_H_

#include <boost/noncopyable.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "bridge/progress_monitor.h"
#include "operation/operation_params.h"
#include "operation/operation_type.h"
#include "operation/result_codes.h"

class CommBridge;
class LogSink;
class TargetApp;

// Processor time, in ticks of std::clock, that the wait for the operation may
// take: 900 seconds of the whole process's processor time.
constexpr uint64_t kProcessorTimeLimitTicks = 900000000;
// How long the wait for the host's terminate packet lasts at most, on the
// steady clock: what the limit above came to while that wait kept a
// processor busy.
constexpr std::chrono::steady_clock::duration kTerminateWaitLimit = std::chrono::seconds(900);

struct OperationRunnerLimits {
  uint64_t processorTimeLimitTicks = kProcessorTimeLimitTicks;
  std::function<std::clock_t()> processorClock = [] { return std::clock(); };
  std::chrono::steady_clock::duration terminateWaitLimit = kTerminateWaitLimit;
  // Starts the worker; throws std::system_error when no thread can be made.
  std::function<std::thread(std::function<void()>)> startThread = [](std::function<void()> body) {
    return std::thread(std::move(body));
  };
};

class OperationRunner : private boost::noncopyable {
 public:
  // A null `progressMonitor` stands for the time-based estimate.
  OperationRunner(LogSink& log, TargetApp& targetApp, CommBridge& bridge,
                  std::unique_ptr<ProgressMonitor> progressMonitor = nullptr,
                  OperationRunnerLimits limits = OperationRunnerLimits());

  static OperationRunner& GetInstance();

  // Install and uninstall. The caller keeps ownership of `params`; the worker
  // works on its own copy. Throws std::system_error when no worker thread can
  // be started.
  int DoOperation(OperationType type, OperationParams* params);
  // Launch and status.
  int DoOperationSynchronously(OperationType type, OperationParams* params);
  // The body of one operation; publishes its result under the mutex.
  void RunOperation(OperationType type, OperationParams* params);

  // One "<data><value>" packet to the host; 38 when it could not be built or
  // written.
  int SendValueToHost(int32_t value, uint32_t packetId);
  // Reads packets as they arrive until the host's terminate packet: 0 once it
  // has been read, 38 after the limit.
  int WaitForTerminatePacket();

  // True while a worker started by any runner has not finished. A process
  // that ends with one still running must not run static destructors under
  // it.
  static bool AnyWorkerRunning();

 private:
  // Logs `phrase` followed by the command's output; `output` is used up.
  void LogCommandOutput(const char* phrase, std::string& output);
  void PublishResult(bool success);
  bool TimeLimitPassed(std::clock_t start) const;

  LogSink& log_;
  TargetApp& targetApp_;
  CommBridge& bridge_;
  OperationRunnerLimits limits_;

  std::mutex mutex_;
  std::condition_variable doneCondition_;
  bool operationDone_ = false;
  int operationStatus_ = kResultFailure;
  std::unique_ptr<ProgressMonitor> progressMonitor_;

  // Touched only by the main thread.
  bool asyncBusy_ = false;
  bool syncBusy_ = false;
};

#endif  // SKIFF_APP_OPERATION_RUNNER_H_
