#include "bridge/comm_bridge.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge/packet_frame.h"
#include "tests/support/recording_log.h"
#include "tests/support/scoped_temp_dir.h"

namespace {

using namespace std::chrono_literals;

constexpr char kName[] = "bridge";

std::string Frame(uint32_t id) {
  CommPacket packet = MakeReportPacket("t");
  packet.packetId = id;
  std::string frame;
  EXPECT_TRUE(EncodeFrame(packet, &frame));
  return frame;
}

class CommBridgeTest : public ::testing::Test {
 protected:
  CommBridgeTest() {
    settings_.pipeFolder = temp_.path() + "/";
    settings_.openAttemptPause = 2ms;
    settings_.headerReadPause = 1ms;
    settings_.writeRetryPause = 1ms;
    settings_.writeAttempts = 20;
  }
  ~CommBridgeTest() override {
    bridge_.reset();
    for (int fd : {hostRead_, hostWrite_}) {
      if (fd >= 0) close(fd);
    }
  }

  std::string Path(const char* suffix) const { return temp_.path() + "/" + kName + suffix; }

  // Plays the host: its reader of "_IN" waits before Init, its writer of
  // "_OUT" connects after.
  int InitWithHost() {
    mkfifo(Path("_IN").c_str(), 0600);
    mkfifo(Path("_OUT").c_str(), 0600);
    hostRead_ = open(Path("_IN").c_str(), O_RDONLY | O_NONBLOCK);
    bridge_ = std::make_unique<CommBridge>(log_, settings_, 1000);
    const int result = bridge_->Init(kName);
    hostWrite_ = open(Path("_OUT").c_str(), O_WRONLY | O_NONBLOCK);
    return result;
  }

  // The next packet the bridge hands out, skipping placeholders for up to two
  // seconds; the result of the last read is returned.
  int ReadNext(CommPacket& packet) {
    for (int i = 0; i < 2000; ++i) {
      const int result = bridge_->ReadPacket(packet);
      if (result != 0 || packet.packetId != CB_Pkt_None) return result;
      std::this_thread::sleep_for(1ms);
    }
    return 0;
  }

  ScopedTempDir temp_;
  RecordingLog log_;
  PipeChannelSettings settings_;
  std::unique_ptr<CommBridge> bridge_;
  int hostRead_ = -1;
  int hostWrite_ = -1;
};

TEST_F(CommBridgeTest, EveryCallFailsWith38BeforeInit) {
  CommBridge bridge(log_, settings_, 10);
  EXPECT_EQ(bridge.status(), -3);
  CommPacket packet;
  EXPECT_EQ(bridge.WritePacket(MakeValuePacket(CB_Pkt_Progress, 10)), 38);
  EXPECT_EQ(bridge.ReadPacket(packet), 38);
}

TEST_F(CommBridgeTest, AFailedInitKeepsTheChannelCodeAndFailsEveryCall) {
  CommBridge bridge(log_, settings_, 10);
  EXPECT_EQ(bridge.Init(kName), 38);
  EXPECT_EQ(bridge.status(), 4);
  CommPacket packet;
  EXPECT_EQ(bridge.WritePacket(MakeValuePacket(CB_Pkt_Progress, 10)), 38);
  EXPECT_EQ(bridge.ReadPacket(packet), 38);
}

TEST_F(CommBridgeTest, WritesToInAndReadsFromOutAsTheClient) {
  ASSERT_EQ(InitWithHost(), 0);
  EXPECT_EQ(bridge_->status(), 0);
  const CommPacket progress = MakeValuePacket(CB_Pkt_Progress, 30);
  EXPECT_EQ(bridge_->WritePacket(progress), 0);
  std::string frame;
  ASSERT_TRUE(EncodeFrame(progress, &frame));
  pollfd poller{hostRead_, POLLIN, 0};
  ASSERT_EQ(poll(&poller, 1, 2000), 1);
  std::string received(frame.size(), '\0');
  EXPECT_EQ(read(hostRead_, &received[0], received.size()), static_cast<ssize_t>(frame.size()));
  EXPECT_EQ(received, frame);

  CommPacket packet;
  EXPECT_EQ(bridge_->ReadPacket(packet), 0);
  EXPECT_EQ(packet.packetId, CB_Pkt_None);
}

TEST_F(CommBridgeTest, LogsTheIdsItKnowsAsErrorsAndFailsOnceClosedAndDrained) {
  ASSERT_EQ(InitWithHost(), 0);
  const std::string frames =
      Frame(CB_Pkt_Invalid) + Frame(CB_Pkt_Errors) + Frame(CB_Pkt_Error) + Frame(CB_Pkt_Progress);
  ASSERT_EQ(write(hostWrite_, frames.data(), frames.size()), static_cast<ssize_t>(frames.size()));
  close(hostWrite_);
  hostWrite_ = -1;

  CommPacket packet;
  for (uint32_t id : {CB_Pkt_Invalid, CB_Pkt_Errors, CB_Pkt_Error, CB_Pkt_Progress}) {
    ASSERT_EQ(ReadNext(packet), 0);
    EXPECT_EQ(packet.packetId, id);
  }
  ASSERT_EQ(ReadNext(packet), 0);
  EXPECT_EQ(packet.packetId, CB_Pkt_Terminate);
  EXPECT_EQ(packet.text, "Pipe is closed on other end or is invalid");
  EXPECT_EQ(bridge_->ReadPacket(packet), 38);
  EXPECT_EQ(bridge_->ReadPacket(packet), 38) << packet.packetId << " " << packet.text;

  EXPECT_EQ(log_.lines(),
            (std::vector<std::string>{"CB_Pkt_Invalid packetID", "CB_Pkt_Errors packetID",
                                      "CB_Pkt_Error packetID", "Error in reading pkts",
                                      "Error in reading pkts"}));
}

TEST_F(CommBridgeTest, DestructionStopsTheChannelPromptly) {
  ASSERT_EQ(InitWithHost(), 0);
  const auto start = std::chrono::steady_clock::now();
  bridge_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  char byte;
  EXPECT_EQ(read(hostRead_, &byte, 1), 0) << "the host sees the write pipe closed";
}

}  // namespace
