#include "bridge/comm_bridge.h"

#include <utility>

#include "bridge/pipe_channel.h"
#include "log/installer_log.h"
#include "operation/result_codes.h"

CommBridge::CommBridge(LogSink& log, PipeChannelSettings settings, uint32_t connectTimeoutMs)
    : log_(log),
      channel_(std::make_unique<PipeChannel>(std::move(settings))),
      connectTimeoutMs_(connectTimeoutMs) {}

// Stopping (and so joining) the receive thread, rather than only closing the
// descriptors, keeps it from touching the channel after it is destroyed.
CommBridge::~CommBridge() { channel_->Stop(); }

CommBridge& CommBridge::GetInstance() {
  static CommBridge bridge(InstallerLog::GetInstance());
  return bridge;
}

int CommBridge::Init(const std::string& pipeName) {
  status_ = channel_->Open(kPipeModeClient, pipeName, true, connectTimeoutMs_, &PacketQueued, this);
  return status_ == 0 ? 0 : kResultFailure;
}

int CommBridge::WritePacket(const CommPacket& packet) {
  if (status_ != 0) return kResultFailure;
  if (channel_->Send(packet) != kPipeSent) log_.Log("Write to comm bridge failed");
  return 0;
}

int CommBridge::ReadPacket(CommPacket& packet) {
  {
    // Counted before the queue is looked at, so that a packet queued after
    // the look always ends the next wait.
    std::lock_guard<std::mutex> hold(arrivalLock_);
    arrivalsWhenEmpty_ = arrivals_;
    lastReadFoundNothing_ = true;
  }
  if (status_ != 0) return kResultFailure;
  const int result = channel_->Receive(packet);
  if (result == kPipeReceived) {
    std::lock_guard<std::mutex> hold(arrivalLock_);
    lastReadFoundNothing_ = false;
  }
  if (result < 0) {
    log_.Log("Error in reading pkts");
    return kResultFailure;
  }
  if (result == kPipeReceived) {
    if (packet.packetId == CB_Pkt_Invalid) {
      log_.Log("CB_Pkt_Invalid packetID");
    } else if (packet.packetId == CB_Pkt_Errors) {
      log_.Log("CB_Pkt_Errors packetID");
    } else if (packet.packetId == CB_Pkt_Error) {
      log_.Log("CB_Pkt_Error packetID");
    }
  }
  return 0;
}

void CommBridge::WaitForPacket(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> hold(arrivalLock_);
  arrival_.wait_until(hold, deadline,
                      [this] { return !lastReadFoundNothing_ || arrivals_ != arrivalsWhenEmpty_; });
}

void CommBridge::PacketQueued(void* bridge) {
  CommBridge* self = static_cast<CommBridge*>(bridge);
  {
    std::lock_guard<std::mutex> hold(self->arrivalLock_);
    ++self->arrivals_;
  }
  self->arrival_.notify_all();
}
