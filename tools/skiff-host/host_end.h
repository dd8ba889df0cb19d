// The installer host's end of skiff's FIFO pair: makes or checks the FIFOs,
// connects in the order skiff expects, cuts what skiff sends into packets,
// answers the final packet with the terminate packet, and misbehaves on
// request. skiff-host runs it against a real skiff; the tests of the channel's
// users run it against their own code.
#ifndef SKIFF_TOOLS_SKIFF_HOST_HOST_END_H_
#define SKIFF_TOOLS_SKIFF_HOST_HOST_END_H_

#include <chrono>
#include <cstdint>
#include <string>

#include "bridge/comm_packet.h"
#include "tools/skiff-host/frame_decoder.h"
#include "tools/skiff-host/host_behaviour.h"

// The text of the terminate packet the host sends.
extern const char kTerminateText[];

// Whoever runs the end: it says whether skiff's side is still there and
// takes what the end has to report.
class HostEndOwner {
 public:
  virtual ~HostEndOwner() = default;
  // False once the other side is gone for good; every wait of the end stops
  // then.
  virtual bool PeerRunning() = 0;
  virtual void OnPacket(const CommPacket& packet) = 0;
  // Something the user should know about skiff's side.
  virtual void OnNote(const std::string& note) = 0;
  // The host's own trouble, as "what: why".
  virtual void OnError(const std::string& message) = 0;
};

class HostEnd {
 public:
  // `folder` ends with a slash; the FIFOs are folder + name + "_IN"/"_OUT".
  HostEnd(const std::string& folder, const std::string& pipeName, HostBehaviour behaviour,
          HostEndOwner* owner);
  ~HostEnd();
  HostEnd(const HostEnd&) = delete;
  HostEnd& operator=(const HostEnd&) = delete;

  // Creates the FIFOs, or checks that what stands at their paths is one.
  bool PrepareFifos();
  // False when the peer ended first or a FIFO could not be opened.
  bool Connect();
  // Reads and answers packets until skiff's side closes its end, the stream
  // breaks or the peer has gone.
  void Exchange();
  void Close();

 private:
  bool PrepareFifo(const std::string& path);
  // Feeds received bytes to the decoder and reacts to every packet; false
  // once the stream is broken.
  bool TakeBytes(const char* data, size_t size);
  // Reads whatever is waiting without blocking, once the peer has gone.
  void DrainWaiting();
  // The packets of the flood.
  void Flood();
  // The extra packets, then the terminate packet (or its oversized
  // stand-in).
  void SendClosingPackets();
  bool WriteBytes(const char* data, size_t size);
  void CloseWriter();
  // Sleeps up to `duration`; false if the peer ended meanwhile.
  bool PauseWhilePeerRuns(std::chrono::milliseconds duration);

  const std::string inPath_;
  const std::string outPath_;
  const HostBehaviour behaviour_;
  HostEndOwner* owner_;
  int readFd_ = -1;
  int writeFd_ = -1;
  FrameDecoder decoder_;
  int64_t packetsReceived_ = 0;
  bool answered_ = false;
  bool answerPending_ = false;
  std::chrono::steady_clock::time_point answerAt_;
};

#endif  // SKIFF_TOOLS_SKIFF_HOST_HOST_END_H_
