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
#include <cstring>
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
  std::string out(count, '\0');
  size_t done = 0;
  for (pollfd poller{fd, POLLIN, 0}; done < count && poll(&poller, 1, 2000) == 1;) {
    const ssize_t n = read(fd, &out[done], count - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  out.resize(done);
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
    settings_.payloadReadPause = 100us;
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
  // connects after, unless told otherwise.
  int OpenWithHost(bool connectWriter = true) {
    mkfifo(Path("_IN").c_str(), 0600);
    mkfifo(Path("_OUT").c_str(), 0600);
    hostRead_ = open(Path("_IN").c_str(), O_RDONLY | O_NONBLOCK);
    if (!channel_) channel_ = std::make_unique<PipeChannel>(settings_);
    const int result = channel_->Open(kPipeModeClient, kName, true, 1000, CountCalls, &calls_);
    if (connectWriter) ConnectWriter();
    return result;
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
    EXPECT_EQ(packet.packetId, CB_Pkt_None);
    EXPECT_TRUE(channel_->IsRunning()) << "only Stop clears the running flag";
    EXPECT_EQ(channel_->Send(MakeValuePacket(CB_Pkt_Progress, 1)), kPipeNotOpen);
  }

  ScopedTempDir temp_;
  PipeChannelSettings settings_;
  std::unique_ptr<PipeChannel> channel_;
  std::atomic<int> calls_{0};
  int hostRead_ = -1;
  int hostWrite_ = -1;
};

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
  bool hostReads;     // the host waits on the pipe the channel writes
  int timeoutMs;      // with the wait flag; -1 tries once
  int result;
  const char* sent = nullptr;  // the text of a value packet sent once open
};

class PipeChannelOpenTest : public PipeChannelTest,
                            public ::testing::WithParamInterface<OpenRow> {};

TEST_P(PipeChannelOpenTest, ReturnsTheRowsResult) {
  const OpenRow& row = GetParam();
  Run(row.setup);
  const bool server = row.mode == kPipeModeServer || row.mode == kPipeModeServerAlt;
  const std::string written = Path(server ? "_OUT" : "_IN"), read = Path(server ? "_IN" : "_OUT");
  if (row.hostReads) hostRead_ = open(written.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
  PipeChannel channel(settings_);
  const mode_t mask = umask(077);
  const auto start = Clock::now();
  EXPECT_EQ(channel.Open(row.mode, row.pipeName, row.timeoutMs >= 0, std::max(row.timeoutMs, 0),
                         nullptr, nullptr),
            row.result);
  // A successful open still ends with the pause after its attempt.
  EXPECT_GE(Clock::now() - start, row.result == 0 ? 2ms : std::max(row.timeoutMs, 0) / 2 * 2ms);
  EXPECT_EQ(umask(mask), 077u);
  EXPECT_EQ(channel.IsOpen() && channel.IsRunning(), row.result == kPipeOpened);
  if (row.sent != nullptr) {
    EXPECT_EQ(channel.Open(row.mode, "other", true, 1000, nullptr, nullptr), kPipeAlreadyOpen);
    // The value stands after "<data><value>"; the frame's length comes from
    // the text.
    CommPacket packet = MakeValuePacket(CB_Pkt_Progress, std::stoi(row.sent + 13));
    packet.length = 99;
    ASSERT_EQ(channel.Send(packet), kPipeSent);
    const std::string frame = Frame(CB_Pkt_Progress, 0xFFFF, row.sent);
    EXPECT_EQ(ReadBytes(hostRead_, frame.size()), frame);
  }
  EXPECT_FALSE(PathExists(Path("_IN", "other")) || PathExists(temp_.path() + "/x_IN"));
  EXPECT_TRUE(row.result != kPipeBadArguments || !PathExists(Path("_IN", row.pipeName)));
  struct stat info;
  // After a failure nobody may still hold the read pipe.
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
        OpenRow{"Server", 1, kName, kFifos, true, -1, 0, "<data><value>0</value></data>"},
        OpenRow{"ServerAlt", 2, kName, kFifos, true, 9, 0, "<data><value>30</value></data>"},
        OpenRow{"Client", 3, kName, kFifos, true, -1, 0, "<data><value>100</value></data>"},
        OpenRow{"ClientAlt", 4, kName, kFifos, true, -1, 0, "<data><value>-1</value></data>"},
        OpenRow{"EmptyName", 3, "", "", false, -1, -7},
        OpenRow{"Slash", 3, "a/b", "", false, -1, -7}, OpenRow{"Dot", 3, ".", "", false, -1, -7},
        OpenRow{"DotDot", 3, "..", "", false, -1, -7},
        OpenRow{"Climbing", 3, "../x", "", false, -1, -7},
        OpenRow{"Mode0", 0, kName, "", false, -1, -7},
        OpenRow{"Mode5", 5, kName, "", false, -1, -7},
        OpenRow{"NoFolder", 3, kName, "rmdir ../pipes", false, -1, -6},
        OpenRow{"SymlinkIn", 3, kName, "mkfifo ../e chan_OUT && ln -s ../e chan_IN", true, -1, -4},
        OpenRow{"SymlinkOut", 3, kName, "mkfifo ../e chan_IN && ln -s ../e chan_OUT", true, -1, -4},
        OpenRow{"DanglingIn", 3, kName, "mkfifo chan_OUT && ln -s ../e chan_IN", true, -1, -4},
        OpenRow{"DanglingOut", 3, kName, "mkfifo chan_IN && ln -s ../e chan_OUT", true, -1, -4},
        OpenRow{"HardLinkIn", 3, kName, "mkfifo ../e chan_OUT && ln ../e chan_IN", true, -1, -4},
        OpenRow{"HardLinkOut", 3, kName, "mkfifo ../e chan_IN && ln ../e chan_OUT", true, -1, -4},
        OpenRow{"FileIn", 3, kName, "mkfifo chan_OUT && touch chan_IN", true, -1, -4},
        OpenRow{"FileOut", 3, kName, "mkfifo chan_IN && touch chan_OUT", true, -1, -4},
        OpenRow{"NoHostWithinTheTimeout", 3, kName, "", false, 30, 4},
        OpenRow{"TimeoutBelowOnePause", 3, kName, kFifos, true, 1, 4}),
    [](const ::testing::TestParamInfo<OpenRow>& info) { return std::string(info.param.name); });

// The host gets up to a minute to connect: a FIFO swapped meanwhile for a
// hard link to another one is caught on the opened descriptor.
TEST_F(PipeChannelTest, AWritePipeHardLinkedDuringTheWaitIsRefusedAndBothEndsClosed) {
  Run(kFifos);
  PipeChannel channel(settings_);
  std::thread opener([&] {
    EXPECT_EQ(channel.Open(kPipeModeClient, kName, true, 2000, nullptr, nullptr), kPipeUnsafePath);
  });
  // A writer of _OUT gets in once the channel reads it: its checks are done.
  EXPECT_TRUE(Eventually([&] { return (ConnectWriter(), hostWrite_ >= 0); }));
  Run("mkfifo ../e && ln ../e ../link && mv ../link chan_IN");
  hostRead_ = open(Path("_IN").c_str(), O_RDONLY | O_NONBLOCK);
  opener.join();
  EXPECT_EQ(open(Path("_OUT").c_str(), O_WRONLY | O_NONBLOCK), -1);
  EXPECT_EQ(errno, ENXIO) << "the read pipe is closed";
  char byte;
  EXPECT_EQ(read(hostRead_, &byte, 1), 0) << "the write pipe is closed";
}

struct ReceiveRow {
  const char* name;
  std::string bytes;       // what the host writes
  int writerDelayMs;       // before the host connects its writer; -1 never
  bool closeWriter;        // after writing
  uint32_t allowance;      // empty reads tolerated before the first packet
  const char* packets;     // as Describe gives them, each followed by a blank
  const char* closedWith;  // the report that ends the channel, if any
};

class ReceiveLoopTest : public PipeChannelTest, public ::testing::WithParamInterface<ReceiveRow> {};

TEST_P(ReceiveLoopTest, QueuesWhatArrivesAndEndsOnlyWhereItMust) {
  const ReceiveRow& row = GetParam();
  settings_.emptyReadAllowance = row.allowance;
  ASSERT_EQ(OpenWithHost(false), kPipeOpened);
  CommPacket packet = MakeValuePacket(CB_Pkt_Progress, 5);
  if (row.writerDelayMs >= 0) {
    ASSERT_EQ(channel_->Receive(packet), kPipeNothingWaiting);
    EXPECT_EQ(Describe(packet), "65535/65535//0");
    std::this_thread::sleep_for(row.writerDelayMs * 1ms);
    ConnectWriter();
    Write(hostWrite_, row.bytes);
  }
  if (row.closeWriter) close(std::exchange(hostWrite_, -1));
  std::string packets;
  int calls = row.closedWith != nullptr ? 1 : 0;
  for (; packets.size() < strlen(row.packets); ++calls) {
    ASSERT_EQ(Await(packet), kPipeReceived) << packets;
    packets += Describe(packet) + " ";
  }
  EXPECT_EQ(packets, row.packets);
  if (row.closedWith != nullptr) {
    ExpectClosedWith(row.closedWith);
  } else {
    EXPECT_EQ(channel_->Receive(packet), kPipeNothingWaiting);
  }
  EXPECT_TRUE(Eventually([&] { return calls_ == calls; })) << calls_ << " notifications";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReceiveLoopTest,
    ::testing::Values(
        ReceiveRow{"InOrder", Frame(18, 7, "first") + Frame(42, 8, "second"), 0, false, 1000000,
                   "18/7/first/6 42/8/second/7 ", nullptr},
        ReceiveRow{"EndOfFileAfterAPacket", Frame(9, 1, "a") + Frame(9, 2, "b"), 0, true, 1000000,
                   "9/1/a/2 9/2/b/2 ", kPipeClosedMessage},
        ReceiveRow{"WriterWithinTheAllowance", Frame(9, 1, "late"), 30, false, 400, "9/1/late/5 ",
                   nullptr},
        ReceiveRow{"NoWriterBeyondTheAllowance", "", -1, false, 3, "", kPipeClosedMessage},
        ReceiveRow{"SplitHeader", Frame(9, 1, "a").substr(0, 6), 0, false, 1000000, "",
                   kPipeClosedMessage},
        ReceiveRow{"ZeroLength", RawFrame(9, 1, 0, "abc"), 0, false, 1000000, "",
                   kPipeClosedMessage},
        ReceiveRow{"OverTheLimit", RawFrame(9, 1, 409601, "abc"), 0, false, 1000000, "",
                   kPipeClosedMessage},
        ReceiveRow{"LengthAllOnes", RawFrame(9, 1, 0xFFFFFFFF, "abc"), 0, false, 1000000, "",
                   kPipeClosedMessage},
        ReceiveRow{"LargestAndEmbeddedNul",
                   Frame(9, 1, kLargest) + RawFrame(9, 2, 6, std::string("ab\0cd\0", 6)), 0, false,
                   1000000, "9/1/409599*z/409600 9/2/ab/3 ", nullptr}),
    [](const ::testing::TestParamInfo<ReceiveRow>& info) { return std::string(info.param.name); });

TEST_F(PipeChannelTest, SendResults) {
  EXPECT_EQ(PipeChannel(settings_).Send(MakeReportPacket("x")), kPipeNotOpen);
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  EXPECT_EQ(channel_->Send(MakeReportPacket(std::string(409600, 'x'))), kPipePacketTooLong);
  char byte;
  EXPECT_EQ(read(hostRead_, &byte, 1), -1) << "nothing may be written";

  std::thread sender([&] { EXPECT_EQ(channel_->Send(MakeReportPacket(kLargest)), kPipeSent); });
  const std::string received = ReadBytes(hostRead_, 12 + 409600);
  sender.join();
  EXPECT_TRUE(received == Frame(CB_Pkt_Terminate, 0xFFFF, kLargest));

  // 4,096-byte frames fill the pipe exactly, so that a header finds no room.
  const CommPacket page = MakeReportPacket(std::string(4096 - 13, 'p'));
  int sent = 0;
  int result;
  while ((result = channel_->Send(page)) == kPipeSent && sent < 1000) ++sent;
  EXPECT_EQ(result, kPipeSendTimedOut);
  EXPECT_GT(sent, 0);
  ASSERT_EQ(ReadBytes(hostRead_, 4096).size(), 4096u);
  EXPECT_EQ(channel_->Send(page), kPipeSent) << "a timed-out send leaves the channel open";

  close(std::exchange(hostRead_, -1));
  EXPECT_EQ(channel_->Send(page), kPipeSendFailed);
  ExpectClosedWith(kPipeSendErrorMessage);
}

TEST_F(PipeChannelTest, OpensAgainAfterClosingItselfAndStopsAtOnceWithoutAReport) {
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  Write(hostWrite_, Frame(9, 1, "first"));
  close(hostWrite_);
  ASSERT_TRUE(Eventually([&] { return !channel_->IsOpen(); }));
  close(hostRead_);
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  CommPacket packet;
  EXPECT_EQ(channel_->Receive(packet), kPipeNothingWaiting) << "Open empties the queue";
  Write(hostWrite_, Frame(9, 1, "again"));
  ASSERT_EQ(Await(packet), kPipeReceived);
  EXPECT_EQ(packet.text, "again");
  std::this_thread::sleep_for(5ms);  // The receiver waits for the next header.
  const auto start = Clock::now();
  EXPECT_EQ(channel_->Stop(), kPipeStopped);
  EXPECT_LT(Clock::now() - start, 100ms);
  EXPECT_FALSE(channel_->IsRunning());
  EXPECT_EQ(channel_->Receive(packet), kPipeClosed) << "nothing was queued";
  char byte;
  EXPECT_EQ(read(hostRead_, &byte, 1), 0) << "the host sees the write pipe closed";
}

TEST_F(PipeChannelTest, TheBridgeFailsWith38UntilAnInitSucceeds) {
  RecordingLog log;
  CommBridge bridge(log, settings_, 10);
  CommPacket packet;
  for (int status : {-3, 4}) {
    EXPECT_EQ(bridge.status(), status);
    EXPECT_EQ(bridge.WritePacket(MakeValuePacket(CB_Pkt_Progress, 10)), 38);
    EXPECT_EQ(bridge.ReadPacket(packet), 38);
    EXPECT_EQ(bridge.Init(kName), 38) << "nobody reads within the timeout";
  }
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(PipeChannelTest, TheBridgeOpensAsTheClientLogsTheIdsItKnowsAndOnlyLogsFailures) {
  RecordingLog log;
  CommBridge bridge(log, settings_, 1000);
  Run(kFifos);
  hostRead_ = open(Path("_IN").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_EQ(bridge.Init(kName), 0);
  ConnectWriter();
  CommPacket packet;
  EXPECT_EQ(bridge.ReadPacket(packet), 0);
  EXPECT_EQ(packet.packetId, CB_Pkt_None);
  EXPECT_EQ(bridge.WritePacket(MakeValuePacket(CB_Pkt_Progress, 30)), 0);
  EXPECT_EQ(ReadBytes(hostRead_, 43), Frame(9, 0xFFFF, "<data><value>30</value></data>"));
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
  EXPECT_EQ(bridge.ReadPacket(packet), 38);
  EXPECT_EQ(bridge.WritePacket(MakeValuePacket(CB_Pkt_Progress, 40)), 0) << "though closed";
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"CB_Pkt_Invalid packetID", "CB_Pkt_Errors packetID",
                                      "CB_Pkt_Error packetID", "Error in reading pkts",
                                      "Error in reading pkts", "Write to comm bridge failed"}));
}

}  // namespace
