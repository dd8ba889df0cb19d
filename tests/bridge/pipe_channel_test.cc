#include "bridge/pipe_channel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "tests/support/scoped_temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kName[] = "chan";

std::string Word(uint32_t word) {
  std::string out;
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(word >> shift));
  return out;
}

// A frame with a header of our choosing, however wrong.
std::string RawFrame(uint32_t id, uint32_t aux, uint32_t length, const std::string& payload) {
  return Word(id) + Word(aux) + Word(length) + payload;
}

std::string Frame(uint32_t id, uint32_t aux, const std::string& text) {
  return RawFrame(id, aux, static_cast<uint32_t>(text.size() + 1), text + '\0');
}

// Waits until `fd` is ready for `events`; false after two seconds.
bool AwaitReady(int fd, short events) {
  pollfd poller{fd, events, 0};
  return poll(&poller, 1, 2000) == 1;
}

void WriteOrDie(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else {
      ASSERT_EQ(errno, EAGAIN);
      ASSERT_TRUE(AwaitReady(fd, POLLOUT));
    }
  }
}

// Reads `count` bytes, or what arrived before two seconds without progress.
std::string ReadBytes(int fd, size_t count) {
  std::string out(count, '\0');
  size_t done = 0;
  while (done < count && AwaitReady(fd, POLLIN)) {
    const ssize_t n = read(fd, &out[done], count - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  out.resize(done);
  return out;
}

// Whether `condition` holds within two seconds.
template <typename Condition>
bool Eventually(Condition condition) {
  const auto deadline = Clock::now() + 2s;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

void CountCalls(void* context) { ++*static_cast<std::atomic<int>*>(context); }

PipeChannelSettings QuickSettings(const std::string& folder) {
  PipeChannelSettings settings;
  settings.pipeFolder = folder + "/";
  settings.openAttemptPause = 2ms;
  settings.headerReadPause = 1ms;
  settings.payloadReadPause = 100us;
  settings.writeRetryPause = 1ms;
  settings.writeAttempts = 20;
  // Most tests connect the host's writer late; tests of the allowance lower it.
  settings.emptyReadAllowance = 1000000;
  return settings;
}

// The test plays the host: it reads "_IN" and writes "_OUT", as the channel
// in client mode expects.
class PipeChannelTest : public ::testing::Test {
 protected:
  ~PipeChannelTest() override {
    channel_.reset();
    for (int fd : {hostRead_, hostWrite_}) {
      if (fd >= 0) close(fd);
    }
  }

  std::string Path(const std::string& suffix, const std::string& name = kName) const {
    return temp_.path() + "/" + name + suffix;
  }

  void MakeFifos() {
    ASSERT_EQ(mkfifo(Path("_IN").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(Path("_OUT").c_str(), 0600), 0);
  }

  // Opens the channel with the host's reader already waiting on "_IN", then
  // connects the host's writer unless told otherwise.
  int OpenWithHost(bool connectWriter = true, std::atomic<int>* calls = nullptr) {
    MakeFifos();
    hostRead_ = open(Path("_IN").c_str(), O_RDONLY | O_NONBLOCK);
    channel_ = std::make_unique<PipeChannel>(settings_);
    const int result =
        channel_->Open(kPipeModeClient, kName, true, 1000, calls ? CountCalls : nullptr, calls);
    if (connectWriter) ConnectWriter();
    return result;
  }

  void ConnectWriter() { hostWrite_ = open(Path("_OUT").c_str(), O_WRONLY | O_NONBLOCK); }

  // The next result of Receive other than "nothing waiting", or 1 after two
  // seconds.
  int Await(CommPacket& packet) {
    const auto deadline = Clock::now() + 2s;
    int result;
    while ((result = channel_->Receive(packet)) == kPipeNothingWaiting && Clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
    return result;
  }

  void ExpectClosedWith(const std::string& message) {
    CommPacket packet;
    ASSERT_EQ(Await(packet), kPipeReceived);
    EXPECT_EQ(packet.packetId, CB_Pkt_Terminate);
    EXPECT_EQ(packet.auxiliaryWord, 0xFFFFu);
    EXPECT_EQ(packet.text, message);
    EXPECT_EQ(packet.length, message.size() + 1);
    EXPECT_EQ(channel_->Receive(packet), kPipeClosed);
    EXPECT_EQ(packet.packetId, CB_Pkt_None);
    EXPECT_FALSE(channel_->IsOpen());
    EXPECT_EQ(channel_->Send(MakeValuePacket(CB_Pkt_Progress, 1)), kPipeNotOpen);
  }

  ScopedTempDir temp_;
  PipeChannelSettings settings_ = QuickSettings(temp_.path());
  std::unique_ptr<PipeChannel> channel_;
  int hostRead_ = -1;
  int hostWrite_ = -1;
};

TEST_F(PipeChannelTest, OpenReturnsOnlyAfterThePauseThatFollowsTheSuccessfulAttempt) {
  settings_.openAttemptPause = 40ms;
  const auto start = Clock::now();
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  EXPECT_GE(Clock::now() - start, 40ms);
  EXPECT_TRUE(channel_->IsOpen());
  EXPECT_TRUE(channel_->IsRunning());
  EXPECT_GE(hostWrite_, 0) << "the channel reads _OUT";
}

class PipeChannelModeTest : public PipeChannelTest, public ::testing::WithParamInterface<int> {};

TEST_P(PipeChannelModeTest, WritesThePipeOfItsOrientation) {
  const uint32_t mode = static_cast<uint32_t>(GetParam());
  const std::string written = mode <= kPipeModeServerAlt ? "_OUT" : "_IN";
  MakeFifos();
  hostRead_ = open(Path(written).c_str(), O_RDONLY | O_NONBLOCK);
  channel_ = std::make_unique<PipeChannel>(settings_);
  ASSERT_EQ(channel_->Open(mode, kName, false, 0, nullptr, nullptr), kPipeOpened);
  ASSERT_EQ(channel_->Send(MakeReportPacket("x")), kPipeSent);
  EXPECT_EQ(ReadBytes(hostRead_, 14), Frame(CB_Pkt_Terminate, 0xFFFF, "x"));
}

INSTANTIATE_TEST_SUITE_P(AllModes, PipeChannelModeTest, ::testing::Values(1, 2, 3, 4));

TEST_F(PipeChannelTest, SecondOpenReturns5AndLeavesThePipesAlone) {
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  EXPECT_EQ(channel_->Open(kPipeModeClient, "other", true, 1000, nullptr, nullptr),
            kPipeAlreadyOpen);
  EXPECT_FALSE(PathExists(Path("_IN", "other")));
  ASSERT_EQ(channel_->Send(MakeReportPacket("still")), kPipeSent);
  EXPECT_EQ(ReadBytes(hostRead_, 18), Frame(CB_Pkt_Terminate, 0xFFFF, "still"));
}

class BadArgumentsTest : public PipeChannelTest,
                         public ::testing::WithParamInterface<std::tuple<uint32_t, const char*>> {};

// The FIFOs live one folder down, so that a name climbing out of it stays in
// the test's own folder.
TEST_P(BadArgumentsTest, RefusesWithMinus7AndCreatesNothing) {
  const auto [mode, name] = GetParam();
  const std::string folder = temp_.path() + "/pipes";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  settings_.pipeFolder = folder + "/";
  PipeChannel channel(settings_);
  EXPECT_EQ(channel.Open(mode, name, false, 0, nullptr, nullptr), kPipeBadArguments);
  EXPECT_FALSE(PathExists(folder + "/" + name + "_IN"));
  EXPECT_FALSE(PathExists(Path("_IN", "x")));
}

INSTANTIATE_TEST_SUITE_P(NamesAndModes, BadArgumentsTest,
                         ::testing::Values(std::make_tuple(kPipeModeClient, ""),
                                           std::make_tuple(kPipeModeClient, "a/b"),
                                           std::make_tuple(kPipeModeClient, "."),
                                           std::make_tuple(kPipeModeClient, ".."),
                                           std::make_tuple(kPipeModeClient, "../x"),
                                           std::make_tuple(0u, kName), std::make_tuple(5u, kName)));

TEST_F(PipeChannelTest, FailsWithMinus6WhenAFifoCannotBeCreated) {
  settings_.pipeFolder = temp_.path() + "/missing/";
  PipeChannel channel(settings_);
  EXPECT_EQ(channel.Open(kPipeModeClient, kName, false, 0, nullptr, nullptr), kPipeSystemError);
}

enum class Planted { kSymlinkToFifo, kDanglingSymlink, kHardLink, kRegularFile };

class UnsafePathTest : public PipeChannelTest,
                       public ::testing::WithParamInterface<std::tuple<const char*, Planted>> {};

// A dangling link escapes the existence check, so the open itself must refuse
// to follow it; a regular file passes that check and is refused on its
// opened descriptor.
TEST_P(UnsafePathTest, RefusesWithMinus4) {
  const auto [suffix, planted] = GetParam();
  const std::string path = Path(suffix);
  const std::string elsewhere = temp_.path() + "/elsewhere";
  if (planted == Planted::kRegularFile) {
    WriteFileOrDie(path, "");
  } else {
    if (planted != Planted::kDanglingSymlink) {
      ASSERT_EQ(mkfifo(elsewhere.c_str(), 0600), 0);
    }
    ASSERT_EQ(planted == Planted::kHardLink ? link(elsewhere.c_str(), path.c_str())
                                            : symlink(elsewhere.c_str(), path.c_str()),
              0);
  }
  const std::string other = Path(std::string(suffix) == "_IN" ? "_OUT" : "_IN");
  ASSERT_EQ(mkfifo(other.c_str(), 0600), 0);
  hostRead_ = open(Path("_IN").c_str(), O_RDONLY | O_NONBLOCK);
  PipeChannel channel(settings_);
  EXPECT_EQ(channel.Open(kPipeModeClient, kName, false, 0, nullptr, nullptr), kPipeUnsafePath);
  EXPECT_FALSE(channel.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    BothPipes, UnsafePathTest,
    ::testing::Combine(::testing::Values("_IN", "_OUT"),
                       ::testing::Values(Planted::kSymlinkToFifo, Planted::kDanglingSymlink,
                                         Planted::kHardLink, Planted::kRegularFile)));

// The host gets up to a minute to connect: a FIFO swapped meanwhile for a
// hard link to another one is caught on the opened descriptor.
TEST_F(PipeChannelTest, AWritePipeHardLinkedDuringTheWaitIsRefusedAndBothEndsClosed) {
  MakeFifos();
  channel_ = std::make_unique<PipeChannel>(settings_);
  int result = 0;
  std::thread opener(
      [&] { result = channel_->Open(kPipeModeClient, kName, true, 2000, nullptr, nullptr); });
  // A writer of _OUT gets in once the channel reads it: its checks are done.
  EXPECT_TRUE(Eventually(
      [&] { return (hostWrite_ = open(Path("_OUT").c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }));
  const std::string elsewhere = temp_.path() + "/elsewhere";
  EXPECT_EQ(mkfifo(elsewhere.c_str(), 0600), 0);
  EXPECT_EQ(link(elsewhere.c_str(), (elsewhere + "-link").c_str()), 0);
  EXPECT_EQ(rename((elsewhere + "-link").c_str(), Path("_IN").c_str()), 0);
  hostRead_ = open(Path("_IN").c_str(), O_RDONLY | O_NONBLOCK);
  opener.join();
  EXPECT_EQ(result, kPipeUnsafePath);
  EXPECT_FALSE(channel_->IsOpen());
  EXPECT_EQ(open(Path("_OUT").c_str(), O_WRONLY | O_NONBLOCK), -1);
  EXPECT_EQ(errno, ENXIO) << "the read pipe is closed";
  char byte;
  EXPECT_EQ(read(hostRead_, &byte, 1), 0) << "the write pipe is closed";
}

TEST_F(PipeChannelTest, TimesOutWith4WhenNobodyReadsAndReleasesTheReadPipe) {
  settings_.openAttemptPause = 5ms;
  PipeChannel channel(settings_);
  const auto start = Clock::now();
  EXPECT_EQ(channel.Open(kPipeModeClient, kName, true, 30, nullptr, nullptr), kPipeOpenTimedOut);
  EXPECT_GE(Clock::now() - start, 30ms);
  EXPECT_EQ(open(Path("_OUT").c_str(), O_WRONLY | O_NONBLOCK), -1);
  EXPECT_EQ(errno, ENXIO) << "nobody may still hold the read pipe";
}

TEST_F(PipeChannelTest, ATimeoutBelowOneAttemptPauseTimesOutAtOnce) {
  settings_.openAttemptPause = 300ms;
  MakeFifos();
  hostRead_ = open(Path("_IN").c_str(), O_RDONLY | O_NONBLOCK);
  PipeChannel channel(settings_);
  const auto start = Clock::now();
  EXPECT_EQ(channel.Open(kPipeModeClient, kName, true, 299, nullptr, nullptr), kPipeOpenTimedOut);
  EXPECT_LT(Clock::now() - start, 300ms);
}

TEST_F(PipeChannelTest, CreatesBothFifosReadableAndWritableByAllUnderAnyUmask) {
  const mode_t original = umask(077);
  PipeChannel channel(settings_);
  EXPECT_EQ(channel.Open(kPipeModeClient, kName, false, 0, nullptr, nullptr), kPipeOpenTimedOut);
  EXPECT_EQ(umask(original), 077u);
  for (const char* suffix : {"_IN", "_OUT"}) {
    struct stat info;
    ASSERT_EQ(lstat(Path(suffix).c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0666u) << suffix;
  }
}

TEST_F(PipeChannelTest, SendRefusesWithMinus4UntilOpenAndAfterClose) {
  PipeChannel closed(settings_);
  EXPECT_EQ(closed.Send(MakeReportPacket("x")), kPipeNotOpen);
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  channel_->Close();
  EXPECT_EQ(channel_->Send(MakeReportPacket("x")), kPipeNotOpen);
  char byte;
  EXPECT_EQ(read(hostRead_, &byte, 1), 0) << "Close also closes the write pipe";
}

TEST_F(PipeChannelTest, RefusesATextOf409600BytesAndSendsOneOf409599) {
  settings_.writeAttempts = 3000;
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  EXPECT_EQ(channel_->Send(MakeReportPacket(std::string(409600, 'x'))), kPipePacketTooLong);
  char byte;
  EXPECT_EQ(read(hostRead_, &byte, 1), -1) << "nothing may be written";

  const std::string text(409599, 'y');
  int result = -100;
  std::thread sender([&] { result = channel_->Send(MakeReportPacket(text)); });
  const std::string received = ReadBytes(hostRead_, 12 + 409600);
  sender.join();
  EXPECT_EQ(result, kPipeSent);
  EXPECT_TRUE(received == Frame(CB_Pkt_Terminate, 0xFFFF, text));
}

TEST_F(PipeChannelTest, ReturnsThreeAndStaysOpenWhileTheHostDoesNotRead) {
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  // 4,096-byte frames fill the pipe exactly, so a header finds no room.
  const CommPacket page = MakeReportPacket(std::string(4096 - 13, 'p'));
  int sent = 0;
  int result;
  while ((result = channel_->Send(page)) == kPipeSent && sent < 1000) ++sent;
  EXPECT_EQ(result, kPipeSendTimedOut);
  EXPECT_GT(sent, 0);
  EXPECT_TRUE(channel_->IsOpen());
  ASSERT_EQ(ReadBytes(hostRead_, 4096).size(), 4096u);
  EXPECT_EQ(channel_->Send(page), kPipeSent);
}

TEST_F(PipeChannelTest, DeliversPacketsInOrderAndNotifiesForEach) {
  std::atomic<int> calls{0};
  ASSERT_EQ(OpenWithHost(true, &calls), kPipeOpened);
  CommPacket packet = MakeValuePacket(CB_Pkt_Progress, 5);
  EXPECT_EQ(channel_->Receive(packet), kPipeNothingWaiting);
  EXPECT_EQ(packet.packetId, CB_Pkt_None);
  EXPECT_EQ(packet.auxiliaryWord, 0xFFFFu);
  EXPECT_EQ(packet.length, 0u);
  EXPECT_EQ(packet.text, "");

  WriteOrDie(hostWrite_, Frame(CB_Pkt_Errors, 7, "first") + Frame(42, 8, "second"));
  ASSERT_EQ(Await(packet), kPipeReceived);
  EXPECT_EQ(packet.packetId, CB_Pkt_Errors);
  EXPECT_EQ(packet.auxiliaryWord, 7u);
  EXPECT_EQ(packet.text, "first");
  EXPECT_EQ(packet.length, 6u);
  ASSERT_EQ(Await(packet), kPipeReceived);
  EXPECT_EQ(packet.packetId, 42u);
  EXPECT_EQ(packet.text, "second");
  EXPECT_TRUE(Eventually([&] { return calls == 2; })) << calls;
  EXPECT_EQ(channel_->Receive(packet), kPipeNothingWaiting);
}

TEST_F(PipeChannelTest, AfterAPacketTheFirstEndOfFileClosesBehindTheWaitingPackets) {
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  WriteOrDie(hostWrite_, Frame(9, 1, "a") + Frame(9, 2, "b"));
  close(hostWrite_);
  hostWrite_ = -1;
  CommPacket packet;
  ASSERT_EQ(Await(packet), kPipeReceived);
  EXPECT_EQ(packet.text, "a");
  ASSERT_EQ(Await(packet), kPipeReceived);
  EXPECT_EQ(packet.text, "b");
  ExpectClosedWith(kPipeClosedMessage);
  EXPECT_TRUE(channel_->IsRunning()) << "only Stop clears the running flag";
}

TEST_F(PipeChannelTest, AWriterThatConnectsWithinTheAllowanceIsTolerated) {
  settings_.emptyReadAllowance = 400;
  ASSERT_EQ(OpenWithHost(false), kPipeOpened);
  std::this_thread::sleep_for(30ms);
  ASSERT_TRUE(channel_->IsOpen());
  ConnectWriter();
  WriteOrDie(hostWrite_, Frame(9, 1, "late"));
  CommPacket packet;
  ASSERT_EQ(Await(packet), kPipeReceived);
  EXPECT_EQ(packet.text, "late");
}

class BadLengthTest : public PipeChannelTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(BadLengthTest, ClosesTheChannel) {
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  WriteOrDie(hostWrite_, RawFrame(9, 1, GetParam(), "abc"));
  ExpectClosedWith(kPipeClosedMessage);
}

INSTANTIATE_TEST_SUITE_P(ZeroAndOverLimit, BadLengthTest,
                         ::testing::Values(0u, 409601u, 0xFFFFFFFFu));

TEST_F(PipeChannelTest, TheLargestPayloadArrivesWholeAndAnEmbeddedNulEndsTheText) {
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  const std::string text(409599, 'z');
  WriteOrDie(hostWrite_, Frame(9, 1, text) + RawFrame(9, 2, 6, std::string("ab\0cd\0", 6)));
  CommPacket packet;
  ASSERT_EQ(Await(packet), kPipeReceived);
  EXPECT_EQ(packet.length, 409600u);
  EXPECT_TRUE(packet.text == text);
  ASSERT_EQ(Await(packet), kPipeReceived);
  EXPECT_EQ(packet.text, "ab");
  EXPECT_EQ(packet.length, 3u);
}

TEST_F(PipeChannelTest, CloseAndStopEndAWaitingReceiverAtOnceWithoutAReport) {
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  std::this_thread::sleep_for(5ms);
  channel_->Close();
  CommPacket packet;
  EXPECT_EQ(channel_->Receive(packet), kPipeClosed);
  const auto start = Clock::now();
  EXPECT_EQ(channel_->Stop(), kPipeStopped);
  EXPECT_LT(Clock::now() - start, 100ms);
  EXPECT_FALSE(channel_->IsRunning());
  EXPECT_EQ(channel_->Receive(packet), kPipeClosed) << "nothing was queued";
}

TEST_F(PipeChannelTest, StopJoinsPromptlyWhileTheHostIsSilent) {
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  std::this_thread::sleep_for(5ms);
  const auto start = Clock::now();
  EXPECT_EQ(channel_->Stop(), kPipeStopped);
  EXPECT_LT(Clock::now() - start, 100ms);
  char byte;
  EXPECT_EQ(read(hostRead_, &byte, 1), 0) << "the host sees the write pipe closed";
}

TEST_F(PipeChannelTest, OpensAgainAfterClosingItselfWithAnEmptyQueue) {
  ASSERT_EQ(OpenWithHost(), kPipeOpened);
  WriteOrDie(hostWrite_, Frame(9, 1, "first"));
  close(hostWrite_);
  hostWrite_ = -1;
  ASSERT_TRUE(Eventually([&] { return !channel_->IsOpen(); }));
  ASSERT_EQ(channel_->Open(kPipeModeClient, kName, true, 1000, nullptr, nullptr), kPipeOpened);
  CommPacket packet;
  EXPECT_EQ(channel_->Receive(packet), kPipeNothingWaiting) << "Open empties the queue";
  ConnectWriter();
  WriteOrDie(hostWrite_, Frame(9, 1, "again"));
  ASSERT_EQ(Await(packet), kPipeReceived);
  EXPECT_EQ(packet.text, "again");
}

}  // namespace
