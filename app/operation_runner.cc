#include "app/operation_runner.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "app/install_operations.h"
#include "bridge/comm_bridge.h"
#include "bridge/comm_packet.h"
#include "bridge/time_based_progress_monitor.h"
#include "log/installer_log.h"
#include "target/target_app.h"

namespace {

std::atomic<int> runningWorkers{0};

}  // namespace

OperationRunner::OperationRunner(LogSink& log, TargetApp& targetApp, CommBridge& bridge,
                                 std::unique_ptr<ProgressMonitor> progressMonitor,
                                 OperationRunnerLimits limits)
    : log_(log),
      targetApp_(targetApp),
      bridge_(bridge),
      limits_(std::move(limits)),
      progressMonitor_(progressMonitor ? std::move(progressMonitor)
                                       : std::make_unique<TimeBasedProgressMonitor>()) {}

OperationRunner& OperationRunner::GetInstance() {
  static OperationRunner runner(InstallerLog::GetInstance(), TargetApp::GetInstance(),
                                CommBridge::GetInstance());
  return runner;
}

bool OperationRunner::AnyWorkerRunning() { return runningWorkers.load() > 0; }

void OperationRunner::RunOperation(OperationType type, OperationParams* params) {
  log_.Log("In thread");
  bool success = false;
  switch (type) {
    case OperationType::Install: {
      std::string command;
      std::string output;
      success = RunInstall(log_, targetApp_, command, output,
                           *static_cast<InstallOperationParams*>(params));
      LogCommandOutput("Output of install command: ", output);
      break;
    }
    case OperationType::Uninstall: {
      std::string command;
      std::string output;
      success = RunUninstall(log_, targetApp_, command, output,
                             *static_cast<UninstallOperationParams*>(params));
      LogCommandOutput("Output of uninstall command: ", output);
      break;
    }
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
  PublishResult(success);
}

void OperationRunner::LogCommandOutput(const char* phrase, std::string& output) {
  // The output may be large: the line is made in its own buffer, which the
  // shell leaves room in for the phrase, rather than in a copy.
  output.insert(0, phrase);
  log_.Log(output);
}

void OperationRunner::PublishResult(bool success) {
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

bool OperationRunner::TimeLimitPassed(std::clock_t start) const {
  const uint64_t elapsed =
      static_cast<uint64_t>(limits_.processorClock()) - static_cast<uint64_t>(start);
  return elapsed > limits_.processorTimeLimitTicks - 1;
}

int OperationRunner::DoOperation(OperationType type, OperationParams* params) {
  if (asyncBusy_) return operationStatus_;
  asyncBusy_ = true;
  log_.Log("In Do Operation");

  if (bridge_.Init(params->pipeName) != 0) {
    log_.Log("Not able to init comm bridge bailing out");
    operationStatus_ = kResultFailure;
    asyncBusy_ = false;
    return kResultFailure;
  }
  log_.Log("After init comm bridge");

  // The worker owns a copy: after the time limit the caller may delete its
  // parameters while the command still runs.
  std::shared_ptr<OperationParams> workerParams = params->Clone();
  ++runningWorkers;
  try {
    std::thread worker = limits_.startThread([this, type, workerParams] {
      try {
        RunOperation(type, workerParams.get());
      } catch (const std::exception& error) {
        log_.Log(std::string("Operation stopped by an error: ") + error.what());
        PublishResult(false);
      } catch (...) {
        log_.Log("Operation stopped by an unknown error");
        PublishResult(false);
      }
      --runningWorkers;
    });
    worker.detach();
  } catch (const std::system_error& error) {
    --runningWorkers;
    throw std::system_error(error.code(), "thread constructor failed");
  }
  log_.Log("Thread created");

  std::unique_lock<std::mutex> lock(mutex_);
  const std::clock_t start = limits_.processorClock();
  const auto interval = std::chrono::seconds(params->progressIntervalSeconds);
  while (true) {
    log_.Log("In while loop pre wait");
    doneCondition_.wait_for(lock, interval, [this] { return operationDone_; });
    if (operationDone_) {
      log_.Log("Operation status: " + std::to_string(operationDone_ ? 1 : 0));
      log_.Log("Thread is done, I have been notified");
      break;
    }
    SendValueToHost(progressMonitor_->GetProgress(), CB_Pkt_Progress);
    log_.Log("In while loop post wait");
    if (TimeLimitPassed(start)) break;
  }

  if (operationStatus_ != kResultSuccess) {
    log_.Log("Operation failed");
    SendValueToHost(kResultFailure, CB_Pkt_Error);
  } else {
    log_.Log("Operation complete");
    SendValueToHost(100, CB_Pkt_Progress);
  }
  WaitForTerminatePacket();
  const int status = operationStatus_;
  lock.unlock();
  asyncBusy_ = false;
  return status;
}

int OperationRunner::SendValueToHost(int32_t value, uint32_t packetId) {
  try {
    return bridge_.WritePacket(MakeValuePacket(packetId, value));
  } catch (...) {
    log_.Log("Some error thrown in writing to pipe");
    return kResultFailure;
  }
}

int OperationRunner::WaitForTerminatePacket() {
  try {
    const auto deadline = std::chrono::steady_clock::now() + limits_.terminateWaitLimit;
    while (true) {
      CommPacket packet;
      if (bridge_.ReadPacket(packet) == 0 && packet.packetId == CB_Pkt_Terminate) {
        log_.Log("Terminate pkt received");
        return kResultSuccess;
      }
      // Other packets are taken one after the other; with none left the
      // thread sleeps until the channel queues the next.
      bridge_.WaitForPacket(deadline);
      if (std::chrono::steady_clock::now() >= deadline) return kResultFailure;
    }
  } catch (...) {
    log_.Log("Some error thrown in writing to pipe");
    return kResultFailure;
  }
}
