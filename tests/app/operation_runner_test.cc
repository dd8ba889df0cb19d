#include "app/operation_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "app/install_operations.h"
#include "bridge/comm_bridge.h"
#include "target/target_app.h"
#include "tests/support/pipe_host.h"
#include "tests/support/recording_log.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/signature_report_text.h"

namespace {

using namespace std::chrono_literals;
using ::testing::ThrowsMessage;

constexpr char kPipeName[] = "runner";

// Records every command line and signs every package unless told otherwise;
// the installer takes `installerMs` and ends with `installerStatus`, or throws
// for a negative one.
class ScriptedShell : public Shell {
 public:
  int installerMs = 0;
  int installerStatus = 0;
  bool signs = true;
  std::vector<std::string> commands;
  ShellResult Run(const std::string& commandLine) override {
    commands.push_back(commandLine);
    if (commandLine.rfind(kSignatureCheckCommand, 0) == 0)
      return {signs ? 0 : 1, SignatureReportText()};
    if (installerStatus < 0) throw std::runtime_error("installer vanished");
    std::this_thread::sleep_for(installerMs * 1ms);
    return {installerStatus, "installed"};
  }
};

// Asks `runner`, once, for a second operation from inside the first: one in
// the background when asked for progress, one of an unknown type on this
// thread when told that the first has started.
class Reentrant : public ProgressMonitor, public RecordingLog {
 public:
  OperationRunner* runner = nullptr;
  int secondResult = -1;
  int32_t GetProgress() override {
    InstallOperationParams params("/other.pkg");
    if (runner)
      secondResult = std::exchange(runner, nullptr)->DoOperation(OperationType::Install, &params);
    return 10;
  }
  void Log(const std::string& message) override {
    RecordingLog::Log(message);
    LaunchOperationParams params("id");
    if (message == "In thread" && runner)
      secondResult = std::exchange(runner, nullptr)
                         ->DoOperationSynchronously(static_cast<OperationType>(9), &params);
  }
};

class OperationRunnerTest : public ::testing::Test {
 protected:
  OperationRunnerTest() {
    PipeChannelSettings settings;
    settings.pipeFolder = temp_.path() + "/";
    settings.openAttemptPause = 5ms;
    bridge_ = std::make_unique<CommBridge>(log_, settings, 200);
    TargetAppEnvironment environment;
    environment.shell = &shell_;
    targetApp_ = std::make_unique<TargetApp>(log_, environment);
    // The terminate wait lasts far longer than a host needs to answer, and
    // far less than the product's, so that a missed answer fails instead of
    // hanging.
    limits_.terminateWaitLimit = 10s;
  }
  ~OperationRunnerTest() override { EXPECT_TRUE(WorkersEnded()); }

  static bool WorkersEnded() {
    for (int i = 0; i < 2000 && OperationRunner::AnyWorkerRunning(); ++i) {
      std::this_thread::sleep_for(5ms);
    }
    return !OperationRunner::AnyWorkerRunning();
  }

  std::unique_ptr<OperationRunner> MakeRunner(std::unique_ptr<ProgressMonitor> monitor = nullptr) {
    return std::make_unique<OperationRunner>(log_, *targetApp_, *bridge_, std::move(monitor),
                                             limits_);
  }

  ScopedTempDir temp_;
  RecordingLog log_;
  std::unique_ptr<CommBridge> bridge_;
  ScriptedShell shell_;
  std::unique_ptr<TargetApp> targetApp_;
  OperationRunnerLimits limits_;
};

TEST(OperationRunnerLimitsTest, TheDefaultsAreNineHundredSeconds) {
  EXPECT_EQ(OperationRunnerLimits().processorTimeLimitTicks, 900000000u);
  EXPECT_EQ(OperationRunnerLimits().terminateWaitLimit, 900s);
}

struct RunRow {
  const char* name;
  int installerMs;
  int installerStatus;  // -1 throws
  bool reentrant;       // the progress monitor asks for a second operation
  int host;             // 0 answers the final packet, 1 terminates at once, 2 never answers
  uint64_t limitTicks;  // on a clock ticking once per reading; 0 the product's
  int result;
  const char* packets;  // "id:value " of each packet the host receives
  const char* lines;    // the log's lines of kShown, each followed by "|"
};

// The lines a row shows, "|"-separated; and those of a run that went well.
constexpr char kShown[] =
    "|Output of install command: installed|Operation stopped by an error: installer vanished|Not "
    "able to init comm bridge bailing out|Operation status: 1|Operation complete|Operation "
    "failed|Terminate pkt received|";
constexpr char kWell[] =
    "Output of install command: installed|Operation status: 1|Operation complete|Terminate pkt "
    "received|";

class OperationRunnerRunTest : public OperationRunnerTest,
                               public ::testing::WithParamInterface<RunRow> {};

TEST_P(OperationRunnerRunTest, SendsProgressThenTheFinalPacketAndWaitsForTheTerminate) {
  const RunRow& row = GetParam();
  shell_.installerMs = row.installerMs;
  shell_.installerStatus = row.installerStatus;
  HostBehaviour behaviour;
  behaviour.terminateAtOnce = row.host == 1;
  behaviour.answerFinalPacket = row.host != 2;
  PipeHost host(temp_.path() + "/", kPipeName, behaviour);
  if (row.host == 2) limits_.terminateWaitLimit = 100ms;
  if (row.limitTicks > 0) {
    limits_.processorTimeLimitTicks = row.limitTicks;
    // Read on the caller's thread only.
    limits_.processorClock = [ticks = std::clock_t{0}]() mutable { return ticks++; };
  }
  auto monitor = row.reentrant ? std::make_unique<Reentrant>() : nullptr;
  Reentrant* reentrant = monitor.get();
  auto runner = MakeRunner(std::move(monitor));
  if (reentrant != nullptr) reentrant->runner = runner.get();
  auto params = std::make_unique<InstallOperationParams>("/pkgs/p.pkg");
  params->pipeName = kPipeName;
  EXPECT_EQ(runner->DoOperation(OperationType::Install, params.get()), row.result);
  // The caller's parameters go while the worker may still have work to do;
  // under the address sanitizer a worker reading them would fail the test.
  params.reset();
  std::string packets(row.packets);
  const auto received = host.WaitForPackets(std::count(packets.begin(), packets.end(), ' '));
  packets.clear();
  for (const CommPacket& packet : received)
    packets += std::to_string(packet.packetId) + ":" + std::to_string(ValueOf(packet)) + " ";
  EXPECT_EQ(packets, row.packets);
  EXPECT_TRUE(reentrant == nullptr || reentrant->secondResult == 38);
  EXPECT_TRUE(WorkersEnded());
  std::string lines;
  for (const std::string& line : log_.lines())
    if (std::string(kShown).find("|" + line + "|") != std::string::npos) lines += line + "|";
  EXPECT_EQ(lines, row.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OperationRunnerRunTest,
    ::testing::Values(
        RunRow{"ProgressEverySecondAndASecondRunRefused", 3500, 0, true, 0, 0, 0,
               "9:10 9:10 9:10 9:100 ", kWell},
        RunRow{"WorkerThrows", 0, -1, false, 0, 0, 38, "10:38 ",
               "Operation stopped by an error: installer vanished|Operation status: "
               "1|Operation failed|Terminate pkt received|"},
        RunRow{"TerminateBeforeTheFinal", 300, 0, false, 1, 0, 0, "9:100 ", kWell},
        // The worker goes on after the limit, and only the caller's wait ends.
        RunRow{"TimeLimit", 2000, 0, false, 0, 1, 38, "9:10 10:38 ",
               "Operation failed|Terminate pkt received|Output of install command: installed|"},
        RunRow{"HostNeverAnswers", 0, 0, false, 2, 0, 0, "9:100 ",
               "Output of install command: installed|Operation status: 1|Operation complete|"}),
    [](const ::testing::TestParamInfo<RunRow>& info) { return std::string(info.param.name); });

// Only a signed package reaches the installer, with its whole path however
// long.
TEST_F(OperationRunnerTest, TheInstallRunsTheInstallerOnlyOnASignedPackage) {
  const std::string package = "/" + std::string(4000, 'p') + ".pkg";
  const std::string check = kSignatureCheckCommand + package;
  const std::string install = "installer -pkg " + package + " -tgt /";
  for (const bool signs : {true, false}) {
    shell_.signs = signs;
    std::string command;
    std::string output;
    EXPECT_EQ(RunInstall(log_, *targetApp_, command, output, InstallOperationParams(package)),
              signs);
    EXPECT_EQ(command, signs ? install : "");
    EXPECT_EQ(output, signs ? "installed" : "PKG validation failed");
  }
  EXPECT_EQ(shell_.commands, (std::vector<std::string>{check, install, check}));
}

TEST_F(OperationRunnerTest, AWorkerThatCannotBeStartedIsAnErrorForMain) {
  PipeHost host(temp_.path() + "/", kPipeName);
  limits_.startThread = [](std::function<void()>) -> std::thread {
    throw std::system_error(EAGAIN, std::generic_category());
  };
  InstallOperationParams params("/pkgs/p.pkg");
  params.pipeName = kPipeName;
  EXPECT_THAT([&] { MakeRunner()->DoOperation(OperationType::Install, &params); },
              ThrowsMessage<std::system_error>(std::string("thread constructor failed: ") +
                                               std::strerror(EAGAIN)));
  EXPECT_TRUE(host.WaitForPackets(1, 100ms).empty());
}

TEST_F(OperationRunnerTest, ASecondSynchronousOperationWhileOneRunsIsRefused) {
  Reentrant log;
  OperationRunner runner(log, *targetApp_, *bridge_);
  log.runner = &runner;
  LaunchOperationParams params("id");
  runner.DoOperationSynchronously(static_cast<OperationType>(9), &params);
  EXPECT_EQ(log.secondResult, 38);
  const std::vector<std::string> lines = log.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "In Do Operation Synchronously"), 1);
}

}  // namespace
