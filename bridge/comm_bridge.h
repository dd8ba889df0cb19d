// The process's one channel to the installer host, as the runner uses it.
#ifndef SKIFF_BRIDGE_COMM_BRIDGE_H_
#define SKIFF_BRIDGE_COMM_BRIDGE_H_

#include <boost/noncopyable.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "bridge/comm_packet.h"
#include "bridge/pipe_channel_settings.h"

class LogSink;
class PipeChannel;

class CommBridge : private boost::noncopyable {
 public:
  CommBridge(LogSink& log, PipeChannelSettings settings = PipeChannelSettings(),
             uint32_t connectTimeoutMs = kConnectTimeoutMs);
  ~CommBridge();

  // The bridge over the real /tmp pipes and the machine's log.
  static CommBridge& GetInstance();

  // Opens the channel as the client (mode 3) and waits for the host. 0 when
  // the host is connected, otherwise 38; the channel's own code is kept in
  // status().
  int Init(const std::string& pipeName);
  // 38 when the bridge is not initialised; otherwise 0, a failed send being
  // only logged.
  int WritePacket(const CommPacket& packet);
  // Never blocks. 0 with the oldest received packet, or with the id-65535
  // placeholder when none is waiting; 38 when the bridge is not initialised or
  // the channel is closed and drained.
  int ReadPacket(CommPacket& packet);
  // Returns at once when the last ReadPacket took a packet; otherwise waits
  // until the channel queues another one or `deadline` passes. For the
  // thread that reads.
  void WaitForPacket(std::chrono::steady_clock::time_point deadline);

  // -3 before Init, then the result of opening the channel.
  int status() const { return status_; }

 private:
  // The channel's notification: one more packet or error report is queued.
  static void PacketQueued(void* bridge);

  LogSink& log_;
  // Declared before the channel, whose receive thread notifies through them
  // until it is stopped.
  std::mutex arrivalLock_;
  std::condition_variable arrival_;
  uint64_t arrivals_ = 0;
  // arrivals_ when the last ReadPacket found the queue empty; a packet queued
  // since then has moved arrivals_ on.
  uint64_t arrivalsWhenEmpty_ = 0;
  bool lastReadFoundNothing_ = false;
  std::unique_ptr<PipeChannel> channel_;
  uint32_t connectTimeoutMs_;
  int status_ = -3;
};

#endif  // SKIFF_BRIDGE_COMM_BRIDGE_H_
