// The installer host's end of a FIFO pair, for tests of the code on the other
// end: it connects once the client has opened its reading pipe, collects every
// packet on a thread of its own and can answer the final one.
#ifndef SKIFF_TESTS_SUPPORT_PIPE_HOST_H_
#define SKIFF_TESTS_SUPPORT_PIPE_HOST_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/comm_packet.h"

class PipeHost {
 public:
  struct Options {
    // The ids of the packets it sends, in order, as soon as it is connected.
    std::vector<uint32_t> sendAtOnce;
    // Sends the terminate packet after the final packet (id 10, or id 9 with
    // the value 100).
    bool answerFinalPacket = true;
    // Closes its writing end once this many packets have arrived; 0 never.
    size_t closeAfterPackets = 0;
  };

  // `folder` ends with a slash; the FIFOs are folder + name + "_IN"/"_OUT".
  PipeHost(std::string folder, std::string pipeName, Options options);
  ~PipeHost();
  PipeHost(const PipeHost&) = delete;
  PipeHost& operator=(const PipeHost&) = delete;

  // Every packet received so far, once `count` have arrived or the time is up.
  std::vector<CommPacket> WaitForPackets(
      size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  std::vector<CommPacket> Packets();
  bool connected() const { return connected_; }

 private:
  void Run();
  void Write(const CommPacket& packet);
  void CloseWriter();

  std::string inPath_;
  std::string outPath_;
  Options options_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> connected_{false};
  int readFd_ = -1;
  int writeFd_ = -1;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<CommPacket> packets_;
  std::thread thread_;
};

// The value a "<data><value>N</value></data>" text carries; INT32_MIN when the
// text has another shape.
int32_t ValueOf(const CommPacket& packet);

#endif  // SKIFF_TESTS_SUPPORT_PIPE_HOST_H_
