// The named-pipe channel and the bridge facade over it. The test plays the
// host: it reads "_IN" and writes "_OUT", as a channel in client mode expects.
#include "bridge/pipe_channel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bridge/comm_bridge.h"
#include "tests/support/recording_log.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kName[] = "chan";
const std::string kLargest(409599, 'z');

// A frame with a header of our choosing, however wrong.
std::string RawFrame(uint32_t id, uint32_t aux, uint32_t length, const std::string& payload) {
  std::string out;
  for (uint32_t word : {id, aux, length}) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(word >> shift));
  }
  return out + payload;
}

std::string Frame(uint32_t id, uint32_t aux, const std::string& text) {
  return RawFrame(id, aux, static_cast<uint32_t>(text.size() + 1), text + '\0');
}

// "id/aux/text/length"; a long text of one repeated character as "count*c".
std::string Describe(const CommPacket& p) {
  const bool uniform = p.text.size() > 20 && p.text == std::string(p.text.size(), p.text[0]);
  return std::to_string(p.packetId) + "/" + std::to_string(p.auxiliaryWord) + "/" +
         (uniform ? std::to_string(p.text.size()) + "*" + p.text[0] : p.text) + "/" +
         std::to_string(p.length);
}

// The host's writer blocks until everything is in the pipe.
void Write(int fd, const std::string& bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Reads `count` bytes, or what arrived before two seconds without progress.
std::string ReadBytes(int fd, size_t count) {
  std::string out;
  char buffer[65536];
  for (pollfd poller{fd, POLLIN, 0}; out.size() < count && poll(&poller, 1, 2000) == 1;) {
    const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - out.size()));
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

template <typename Condition>
bool Eventually(Condition condition) {
  for (const auto deadline = Clock::now() + 2s; !condition(); std::this_thread::sleep_for(1ms)) {
    if (Clock::now() > deadline) return false;
  }
  return true;
}

void CountCalls(void* context) { ++*static_cast<std::atomic<int>*>(context); }

class PipeChannelTest : public ::testing::Test {
 protected:
  PipeChannelTest() {
    // One folder down, so that a name climbing out of it stays in ours.
    settings_.pipeFolder = temp_.path() + "/pipes/";
    MakeDirectoriesOrDie(settings_.pipeFolder);
    settings_.openAttemptPause = 2ms;
    settings_.headerReadPause = 1ms;
    settings_.writeRetryPause = 1ms;
    settings_.writeAttempts = 200;
    settings_.emptyReadAllowance = 1000000;
  }
  ~PipeChannelTest() override {
    channel_.reset();
    for (int fd : {hostRead_, hostWrite_}) close(fd);
  }

  std::string Path(const std::string& suffix, const std::string& name = kName) const {
    return settings_.pipeFolder + name + suffix;
  }
  // Runs shell `commands` in the pipes' folder.
  void Run(const std::string& commands) {
    ASSERT_EQ(system(("cd " + settings_.pipeFolder + "; " + commands).c_str()), 0) << commands;
  }

  // The host's reader of "_IN" waits before the open; its writer of "_OUT"
  // connects later, if at all.
  int OpenWithHost() {
    mkfifo(Path("_IN").c_str(), 0600);
    hostRead_ = open(Path("_IN").c_str(), O_RDONLY | O_NONBLOCK);
    if (!channel_) channel_ = std::make_unique<PipeChannel>(settings_);
    return channel_->Open(kPipeModeClient, kName, true, 1000, CountCalls, &calls_);
  }
  void ConnectWriter() {
    hostWrite_ = open(Path("_OUT").c_str(), O_WRONLY | O_NONBLOCK);
    fcntl(hostWrite_, F_SETFL, 0);
  }

  // The next result of Receive other than "nothing waiting", or 1 after two
  // seconds.
  int Await(CommPacket& packet) {
    int result = kPipeNothingWaiting;
    Eventually([&] { return (result = channel_->Receive(packet)) != kPipeNothingWaiting; });
    return result;
  }

  void ExpectClosedWith(const std::string& message) {
    CommPacket packet;
    ASSERT_EQ(Await(packet), kPipeReceived);
    EXPECT_EQ(Describe(packet), "4/65535/" + message + "/" + std::to_string(message.size() + 1));
    EXPECT_EQ(channel_->Receive(packet), kPipeClosed);
    EXPECT_TRUE(channel_->IsRunning()) << "only Stop clears the running flag";
  }

  ScopedTempDir temp_;
  PipeChannelSettings settings_;
  std::unique_ptr<PipeChannel> channel_;
  std::atomic<int> calls_{0};
  int hostRead_ = -1;
  int hostWrite_ = -1;
};

// The production waits and limits, checked once where they are defined.
TEST(PipeChannelSettingsTest, TheDefaultsAreTheProductsWaitsAndLimits) {
  const PipeChannelSettings settings;
  // 120 attempts to reach the host, 500 ms apart.
  EXPECT_EQ(kConnectTimeoutMs, 60000u);
  EXPECT_EQ(settings.openAttemptPause, 500ms);
  EXPECT_EQ(settings.writeAttempts, 3000u);
  EXPECT_EQ(settings.emptyReadAllowance, 1000u);
  // 64 packets, or ten of the largest a host may send.
  EXPECT_EQ(settings.queueLimits.packets, 64u);
  EXPECT_EQ(settings.queueLimits.textBytes, 4u * 1024 * 1024);
}

struct OpenRow {
  const char* name;
  uint32_t mode;
  const char* pipeName;
  const char* setup;  // shell commands run in the pipes' folder first
  int timeoutMs;      // with the wait flag; -1 tries once
  int result;
  // Run once the channel has taken its read pipe; the host's reader comes
  // after.
  const char* during = nullptr;
};

class PipeChannelOpenTest : public PipeChannelTest,
                            public ::testing::WithParamInterface<OpenRow> {};

// The host reads whatever pipe the channel is to write, if it is a FIFO.
TEST_P(PipeChannelOpenTest, ReturnsTheRowsResult) {
  const OpenRow& row = GetParam();
  Run(row.setup);
  const bool server = row.mode == kPipeModeServer || row.mode == kPipeModeServerAlt;
  const std::string written = Path(server ? "_OUT" : "_IN"), read = Path(server ? "_IN" : "_OUT");
  const auto hostReads = [&] {
    struct stat info;
    if (lstat(written.c_str(), &info) == 0 && S_ISFIFO(info.st_mode))
      hostRead_ = open(written.c_str(), O_RDONLY | O_NONBLOCK);
  };
  if (row.during == nullptr) hostReads();
  std::thread host([&] {
    // A writer gets in once the channel reads: its checks are done.
    if (row.during == nullptr || !Eventually([&] { return (ConnectWriter(), hostWrite_ >= 0); }))
      return;
    Run(row.during);
    hostReads();
  });
  PipeChannel channel(settings_);
  const mode_t mask = umask(077);
  const auto start = Clock::now();
  EXPECT_EQ(channel.Open(row.mode, row.pipeName, row.timeoutMs >= 0, std::max(row.timeoutMs, 0),
                         nullptr, nullptr),
            row.result);
  host.join();
  // A successful open still ends with the pause after its attempt.
  EXPECT_GE(Clock::now() - start, row.result == kPipeOpened         ? 2ms
                                  : row.result == kPipeOpenTimedOut ? row.timeoutMs / 2 * 2ms
                                                                    : 0ms);
  EXPECT_EQ(umask(mask), 077u);
  EXPECT_EQ(channel.IsOpen() && channel.IsRunning(), row.result == kPipeOpened);
  char byte;
  if (row.result == kPipeOpened) {
    EXPECT_EQ(channel.Open(row.mode, "other", true, 1000, nullptr, nullptr), kPipeAlreadyOpen);
    EXPECT_FALSE(PathExists(Path("_IN", "other")));
    ASSERT_EQ(channel.Send(MakeReportPacket("x")), kPipeSent);
    EXPECT_EQ(ReadBytes(hostRead_, 14), Frame(CB_Pkt_Terminate, 0xFFFF, "x"));
  } else if (hostRead_ >= 0) {
    EXPECT_EQ(::read(hostRead_, &byte, 1), 0) << "nobody may still hold the write pipe";
  }
  EXPECT_TRUE(row.result != kPipeBadArguments || !PathExists(Path("_IN", row.pipeName)));
  struct stat info;
  // After a failure nobody may still hold the read pipe either.
  if (row.result != 0 && lstat(read.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
    EXPECT_EQ(open(read.c_str(), O_WRONLY | O_NONBLOCK), -1);
    EXPECT_EQ(errno, ENXIO);
  }
  for (const std::string& path : {written, read}) {
    if (*row.setup != '\0' || row.result == kPipeBadArguments) break;
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & (S_IFMT | 0777), S_IFIFO | 0666u) << "under any umask";
  }
}

constexpr char kFifos[] = "mkfifo chan_IN chan_OUT";

INSTANTIATE_TEST_SUITE_P(
    Rows, PipeChannelOpenTest,
    ::testing::Values(
        OpenRow{"Server", 1, kName, kFifos, -1, 0}, OpenRow{"ServerAlt", 2, kName, kFifos, 9, 0},
        OpenRow{"ClientAlt", 4, kName, kFifos, -1, 0}, OpenRow{"DotDot", 3, "..", "", -1, -7},
        OpenRow{"Climbing", 3, "../x", "", -1, -7}, OpenRow{"Mode0", 0, kName, "", -1, -7},
        OpenRow{"Mode5", 5, kName, "", -1, -7},
        OpenRow{"NoFolder", 3, kName, "rmdir ../pipes", -1, -6},
        OpenRow{"DanglingIn", 3, kName, "mkfifo chan_OUT && ln -s ../e chan_IN", -1, -4},
        OpenRow{"DanglingOut", 3, kName, "mkfifo chan_IN && ln -s ../e chan_OUT", -1, -4},
        OpenRow{"FileOut", 3, kName, "mkfifo chan_IN && touch chan_OUT", -1, -4},
        OpenRow{"DirectoryIn", 3, kName, "mkfifo chan_OUT && mkdir chan_IN", -1, -4},
        // The host gets up to a minute to connect: a FIFO swapped meanwhile
        // for a hard link to another one is caught on the opened descriptor.
        OpenRow{"HardLinkedDuringTheWait", 3, kName, kFifos, 2000, -4,
                "mkfifo ../e && ln ../e ../link && mv ../link chan_IN"},
        OpenRow{"NoHostWithinTheTimeout", 3, kName, "", 30, 4},
        OpenRow{"TimeoutBelowOnePause", 3, kName, kFifos, 1, 4}),
    [](const ::testing::TestParamInfo<OpenRow>& info) { return std::string(info.param.name); });

struct ReceiveRow {
  const char* name;
  std::string bytes;    // what the host writes
  int writerDelayMs;    // before the host connects its writer; -1 never
  const char* packets;  // as Describe gives them, each followed by a blank
};

class ReceiveLoopTest : public PipeChannelTest, public ::testing::WithParamInterface<ReceiveRow> {};

// A row that queues no packet ends the channel; every packet and the report
// that ends it notify once.
TEST_P(ReceiveLoopTest, QueuesWhatArrivesAndEndsOnlyWhereItMust) {
  const ReceiveRow& row = GetParam();
  // Empty reads before the first packet: 400 outlast a late writer, 3 do not.
  settings_.emptyReadAllowance = row.writerDelayMs < 0 ? 3 : 400;
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  CommPacket packet = MakeValuePacket(CB_Pkt_Progress, 5);
  if (row.writerDelayMs >= 0) {
    ASSERT_EQ(channel_->Receive(packet), kPipeNothingWaiting);
    EXPECT_EQ(Describe(packet), "65535/65535//0");
    std::this_thread::sleep_for(row.writerDelayMs * 1ms);
    ConnectWriter();
    Write(hostWrite_, row.bytes);
  }
  std::string packets;
  while (packets.size() < std::string(row.packets).size() && Await(packet) == kPipeReceived)
    packets += Describe(packet) + " ";
  EXPECT_EQ(packets, row.packets);
  if (packets.empty()) ExpectClosedWith(kPipeClosedMessage);
  const long calls = std::max<long>(std::count(packets.begin(), packets.end(), ' '), 1);
  EXPECT_TRUE(Eventually([&] { return calls_ == calls; })) << calls_ << " notifications";
  // Stop ends the receiver's wait for the next header at once.
  std::this_thread::sleep_for(5ms);
  const auto start = Clock::now();
  EXPECT_EQ(channel_->Stop(), kPipeStopped);
  EXPECT_LT(Clock::now() - start, 100ms);
  EXPECT_FALSE(channel_->IsRunning());
  // Nothing was left over from the rows' packets, and Stop queues no report.
  EXPECT_EQ(channel_->Receive(packet), kPipeClosed);
  char byte;
  EXPECT_EQ(read(hostRead_, &byte, 1), 0) << "the host sees the write pipe closed";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReceiveLoopTest,
    ::testing::Values(ReceiveRow{"NoWriterBeyondTheAllowance", "", -1, ""},
                      ReceiveRow{"SplitHeader", Frame(9, 1, "a").substr(0, 6), 0, ""},
                      ReceiveRow{"ZeroLength", RawFrame(9, 1, 0, "abc"), 0, ""},
                      ReceiveRow{"OverTheLimit", RawFrame(9, 1, 409601, "abc"), 0, ""},
                      ReceiveRow{"LateWriterLargestAndNul",
                                 Frame(9, 1, kLargest) + Frame(9, 2, std::string("ab\0cd", 5)), 30,
                                 "9/1/409599*z/409600 9/2/ab/3 "}),
    [](const ::testing::TestParamInfo<ReceiveRow>& info) { return std::string(info.param.name); });

TEST_F(PipeChannelTest, SendResults) {
  EXPECT_EQ(PipeChannel(settings_).Send(MakeReportPacket("x")), kPipeNotOpen);
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  EXPECT_EQ(channel_->Send(MakeReportPacket(std::string(409600, 'x'))), kPipePacketTooLong);
  std::thread sender([&] {
    CommPacket largest = MakeReportPacket(kLargest);
    largest.length = 99;  // The frame's length comes from the text.
    EXPECT_EQ(channel_->Send(largest), kPipeSent);
  });
  const std::string received = ReadBytes(hostRead_, 12 + 409600);
  sender.join();
  EXPECT_TRUE(received == Frame(CB_Pkt_Terminate, 0xFFFF, kLargest)) << "and nothing before it";

  // 4,096-byte frames fill the pipe exactly, so that a header finds no room.
  const CommPacket page = MakeReportPacket(std::string(4096 - 13, 'p'));
  int result = kPipeSent;
  for (int sent = 0; result == kPipeSent && sent < 1000; ++sent) result = channel_->Send(page);
  EXPECT_EQ(result, kPipeSendTimedOut);
  ASSERT_EQ(ReadBytes(hostRead_, 4096).size(), 4096u);
  EXPECT_EQ(channel_->Send(page), kPipeSent) << "a timed-out send leaves the channel open";

  close(std::exchange(hostRead_, -1));
  EXPECT_EQ(channel_->Send(page), kPipeSendFailed);
  ExpectClosedWith(kPipeSendErrorMessage);
}

// Until an Init succeeds every call fails with 38; then the bridge logs
// failures and the error ids it knows, nothing else.
TEST_F(PipeChannelTest, TheBridgeOpensAsTheClientAndLogsOnlyFailuresAndErrorIds) {
  RecordingLog log;
  CommBridge bridge(log, settings_, 10);
  CommPacket packet;
  // Before any Init, then after one nobody answered.
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(bridge.WritePacket(MakeValuePacket(CB_Pkt_Progress, 10)), 38);
    EXPECT_EQ(bridge.ReadPacket(packet), 38);
    EXPECT_EQ(bridge.Init(kName), 38) << "nobody reads within the timeout";
  }
  hostRead_ = open(Path("_IN").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_EQ(bridge.Init(kName), 0);
  // The host's writer leaving after a packet closes the channel; an Init then
  // opens it again (before, it is already open), and with an empty queue: the
  // ids read next are the new host's alone.
  ConnectWriter();
  Write(hostWrite_, Frame(9, 1, "first"));
  close(std::exchange(hostWrite_, -1));
  ASSERT_TRUE(Eventually([&] { return bridge.Init(kName) == 0; }));
  ConnectWriter();
  for (uint32_t id : {0, 18, 10, 9}) Write(hostWrite_, Frame(id, 0, "t"));
  close(std::exchange(hostWrite_, -1));
  std::string ids;
  const auto next = [&] {
    return bridge.ReadPacket(packet) != 0 || packet.packetId != CB_Pkt_None;
  };
  for (int read = 0; read < 5 && Eventually(next); ++read)
    ids += std::to_string(packet.packetId) + " ";
  EXPECT_EQ(ids, "0 18 10 9 4 ");
  EXPECT_EQ(bridge.ReadPacket(packet), 38);
  EXPECT_EQ(bridge.WritePacket(MakeValuePacket(CB_Pkt_Progress, 40)), 0) << "though closed";
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"CB_Pkt_Invalid packetID", "CB_Pkt_Errors packetID",
                                      "CB_Pkt_Error packetID", "Error in reading pkts",
                                      "Write to comm bridge failed"}));
}

}  // namespace
