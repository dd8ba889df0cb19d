#include "app/operation_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bridge/comm_bridge.h"
#include "target/target_app.h"
#include "tests/support/pipe_host.h"
#include "tests/support/recording_log.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/signature_report_text.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

constexpr char kPipeName[] = "runner";
// The tests' limit of the terminate wait: far more than a host needs to
// answer, and far less than the product's, so that a wait that misses the
// answer fails the test instead of hanging it.
constexpr std::chrono::seconds kAnswerTime{10};

// Signs every package; the installer takes `installerTime`, ends with
// `installerStatus`, or throws, and can be held until released.
class ScriptedShell : public Shell {
 public:
  std::chrono::milliseconds installerTime{0};
  int installerStatus = 0;
  bool installerThrows = false;
  bool holdInstaller = false;

  ShellResult Run(const std::string& commandLine) override {
    if (commandLine.rfind(kSignatureCheckCommand, 0) == 0) return {0, SignatureReportText()};
    if (installerThrows) throw std::runtime_error("installer vanished");
    std::this_thread::sleep_for(installerTime);
    std::unique_lock<std::mutex> lock(mutex_);
    released_.wait(lock, [this] { return !holdInstaller; });
    return {installerStatus, "installed"};
  }

  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      holdInstaller = false;
    }
    released_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
};

// A processor clock that moves on one tick per reading.
struct TickingClock {
  std::shared_ptr<std::atomic<long>> now = std::make_shared<std::atomic<long>>(0);
  std::function<std::clock_t()> AsFunction() const {
    auto ticks = now;
    return [ticks] { return static_cast<std::clock_t>(ticks->fetch_add(1)); };
  }
};

PipeChannelSettings QuickSettings(const std::string& folder) {
  PipeChannelSettings settings;
  settings.pipeFolder = folder + "/";
  settings.openAttemptPause = std::chrono::milliseconds(5);
  settings.headerReadPause = std::chrono::microseconds(500);
  settings.writeRetryPause = std::chrono::milliseconds(1);
  settings.writeAttempts = 200;
  return settings;
}

class OperationRunnerTest : public ::testing::Test {
 protected:
  OperationRunnerTest() : bridge_(log_, QuickSettings(temp_.path()), 200) {
    TargetAppEnvironment environment;
    environment.shell = &shell_;
    targetApp_ = std::make_unique<TargetApp>(log_, environment);
  }

  static OperationRunnerLimits Limits() {
    OperationRunnerLimits limits;
    limits.terminateWaitLimit = kAnswerTime;
    return limits;
  }

  std::unique_ptr<OperationRunner> MakeRunner(OperationRunnerLimits limits = Limits(),
                                              std::unique_ptr<ProgressMonitor> monitor = nullptr) {
    return std::make_unique<OperationRunner>(log_, *targetApp_, bridge_, std::move(monitor),
                                             std::move(limits));
  }

  std::unique_ptr<PipeHost> StartHost(HostBehaviour behaviour = HostBehaviour()) {
    return std::make_unique<PipeHost>(temp_.path() + "/", kPipeName, behaviour);
  }

  InstallOperationParams Params() {
    InstallOperationParams params("/pkgs/p.pkg");
    params.pipeName = kPipeName;
    return params;
  }

  static std::vector<std::pair<uint32_t, int32_t>> IdsAndValues(
      const std::vector<CommPacket>& packets) {
    std::vector<std::pair<uint32_t, int32_t>> result;
    for (const CommPacket& packet : packets) {
      result.emplace_back(packet.packetId, ValueOf(packet));
      EXPECT_EQ(packet.auxiliaryWord, 0xFFFFu);
    }
    return result;
  }

  static void WaitForWorkers() {
    for (int i = 0; i < 2000 && OperationRunner::AnyWorkerRunning(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(OperationRunner::AnyWorkerRunning());
  }

  ScopedTempDir temp_;
  RecordingLog log_;
  CommBridge bridge_;
  ScriptedShell shell_;
  std::unique_ptr<TargetApp> targetApp_;
};

TEST_F(OperationRunnerTest, AnOperationThatEndsAtOnceSendsOnlyTheFinalPacket) {
  auto host = StartHost();
  auto runner = MakeRunner();
  InstallOperationParams params = Params();
  EXPECT_EQ(runner->DoOperation(OperationType::Install, &params), 0);
  EXPECT_THAT(IdsAndValues(host->WaitForPackets(1)),
              ElementsAre(std::make_pair(CB_Pkt_Progress, 100)));
  WaitForWorkers();

  const std::vector<std::string> expected = {
      "In Do Operation",        "After init comm bridge", "Thread created",
      "In while loop pre wait", "Operation status: 1",    "Thread is done, I have been notified",
      "Operation complete",     "Terminate pkt received"};
  std::vector<std::string> mainThreadLines;
  for (const std::string& line : log_.lines()) {
    if (std::find(expected.begin(), expected.end(), line) != expected.end()) {
      mainThreadLines.push_back(line);
    }
  }
  EXPECT_EQ(mainThreadLines, expected);
  EXPECT_THAT(log_.lines(), Contains("Output of install command: installed"));
  EXPECT_THAT(log_.lines(), Not(Contains("In while loop post wait")));
}

TEST_F(OperationRunnerTest, AFailedOperationEndsWithTheErrorPacket) {
  shell_.installerStatus = 1;
  auto host = StartHost();
  auto runner = MakeRunner();
  InstallOperationParams params = Params();
  EXPECT_EQ(runner->DoOperation(OperationType::Install, &params), 38);
  EXPECT_THAT(IdsAndValues(host->WaitForPackets(1)), ElementsAre(std::make_pair(CB_Pkt_Error, 38)));
  EXPECT_THAT(log_.lines(), Contains("Operation failed"));
  WaitForWorkers();
}

TEST_F(OperationRunnerTest, ALongerOperationSendsAProgressPacketEverySecond) {
  shell_.installerTime = std::chrono::milliseconds(3500);
  auto host = StartHost();
  auto runner = MakeRunner();
  InstallOperationParams params = Params();
  EXPECT_EQ(runner->DoOperation(OperationType::Install, &params), 0);
  EXPECT_THAT(
      IdsAndValues(host->WaitForPackets(4)),
      ElementsAre(std::make_pair(CB_Pkt_Progress, 10), std::make_pair(CB_Pkt_Progress, 10),
                  std::make_pair(CB_Pkt_Progress, 10), std::make_pair(CB_Pkt_Progress, 100)));
  WaitForWorkers();
}

TEST_F(OperationRunnerTest, AnExceptionInTheWorkerIsAFailureNotACrash) {
  shell_.installerThrows = true;
  auto host = StartHost();
  auto runner = MakeRunner();
  InstallOperationParams params = Params();
  EXPECT_EQ(runner->DoOperation(OperationType::Install, &params), 38);
  EXPECT_THAT(IdsAndValues(host->WaitForPackets(1)), ElementsAre(std::make_pair(CB_Pkt_Error, 38)));
  EXPECT_THAT(log_.lines(), Contains("Operation stopped by an error: installer vanished"));
  WaitForWorkers();
}

TEST_F(OperationRunnerTest, TheTimeLimitEndsTheWaitWhileTheWorkerStillRuns) {
  shell_.holdInstaller = true;
  auto host = StartHost();
  OperationRunnerLimits limits = Limits();
  limits.processorTimeLimitTicks = 1;
  limits.processorClock = TickingClock().AsFunction();
  auto runner = MakeRunner(limits);
  auto params = std::make_unique<InstallOperationParams>(Params());
  EXPECT_EQ(runner->DoOperation(OperationType::Install, params.get()), 38);
  EXPECT_THAT(IdsAndValues(host->WaitForPackets(2)),
              ElementsAre(std::make_pair(CB_Pkt_Progress, 10), std::make_pair(CB_Pkt_Error, 38)));
  EXPECT_TRUE(OperationRunner::AnyWorkerRunning());
  // The caller's parameters go away while the worker still has work to do;
  // under the address sanitizer a worker reading them would fail the test.
  params.reset();
  shell_.Release();
  WaitForWorkers();
  EXPECT_THAT(log_.lines(), Contains("Output of install command: installed"));
}

TEST_F(OperationRunnerTest, ANeverAnsweringHostCostsOnlyTheTimeLimit) {
  HostBehaviour options;
  options.answerFinalPacket = false;
  auto host = StartHost(options);
  OperationRunnerLimits limits;
  limits.terminateWaitLimit = std::chrono::milliseconds(100);
  auto runner = MakeRunner(limits);
  InstallOperationParams params = Params();
  // The operation's own result comes back even though no terminate came.
  EXPECT_EQ(runner->DoOperation(OperationType::Install, &params), 0);
  EXPECT_THAT(log_.lines(), Not(Contains("Terminate pkt received")));
  WaitForWorkers();
}

// Reports progress and, on its first call, tries to start a second operation
// from inside the first.
class ReentrantMonitor : public ProgressMonitor {
 public:
  OperationRunner* runner = nullptr;
  int secondResult = -1;
  int32_t GetProgress() override {
    if (secondResult == -1) {
      InstallOperationParams params("/other.pkg");
      secondResult = runner->DoOperation(OperationType::Install, &params);
    }
    return 10;
  }
};

TEST_F(OperationRunnerTest, ASecondOperationWhileTheFirstIsInsideDoesNothing) {
  shell_.installerTime = std::chrono::milliseconds(1100);
  auto host = StartHost();
  auto monitor = std::make_unique<ReentrantMonitor>();
  ReentrantMonitor* rawMonitor = monitor.get();
  auto runner = MakeRunner(Limits(), std::move(monitor));
  rawMonitor->runner = runner.get();
  InstallOperationParams params = Params();
  EXPECT_EQ(runner->DoOperation(OperationType::Install, &params), 0);
  EXPECT_EQ(rawMonitor->secondResult, 38);
  std::vector<std::string> lines = log_.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "In Do Operation"), 1);
  WaitForWorkers();
}

}  // namespace
