// The installer host's end of a FIFO pair (tools/skiff-host/host_end.h), run
// on a thread of its own for tests of the code on the other end: it collects
// every packet and, unless told otherwise, answers the final one.
#ifndef SKIFF_TESTS_SUPPORT_PIPE_HOST_H_
#define SKIFF_TESTS_SUPPORT_PIPE_HOST_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/comm_packet.h"
#include "tools/skiff-host/host_end.h"

class PipeHost : private HostEndOwner {
 public:
  // `folder` ends with a slash; the FIFOs are folder + name + "_IN"/"_OUT".
  PipeHost(const std::string& folder, const std::string& pipeName,
           HostBehaviour behaviour = HostBehaviour());
  ~PipeHost() override;
  PipeHost(const PipeHost&) = delete;
  PipeHost& operator=(const PipeHost&) = delete;

  // Every packet received so far, once `count` have arrived or the time is up.
  std::vector<CommPacket> WaitForPackets(
      size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  bool PeerRunning() override { return !stop_; }
  void OnPacket(const CommPacket& packet) override;
  void OnNote(const std::string& note) override;
  void OnError(const std::string& message) override { OnNote(message); }

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<CommPacket> packets_;
  HostEnd end_;
  std::thread thread_;
};

// The value a "<data><value>N</value></data>" text carries; INT32_MIN when the
// text has another shape.
int32_t ValueOf(const CommPacket& packet);

#endif  // SKIFF_TESTS_SUPPORT_PIPE_HOST_H_
