// The process's one channel to the installer host, as the runner uses it.
#ifndef SKIFF_BRIDGE_COMM_BRIDGE_H_
#define SKIFF_BRIDGE_COMM_BRIDGE_H_

#include <boost/noncopyable.hpp>
#include <cstdint>
#include <memory>
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

  // -3 before Init, then the result of opening the channel.
  int status() const { return status_; }

 private:
  LogSink& log_;
  std::unique_ptr<PipeChannel> channel_;
  uint32_t connectTimeoutMs_;
  int status_ = -3;
};

#endif  // SKIFF_BRIDGE_COMM_BRIDGE_H_
