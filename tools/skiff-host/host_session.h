// One run of skiff under skiff-host: the FIFO pair, the child process, the
// exchange of packets and the result.
#ifndef SKIFF_TOOLS_SKIFF_HOST_HOST_SESSION_H_
#define SKIFF_TOOLS_SKIFF_HOST_HOST_SESSION_H_

#include <sys/types.h>

#include <chrono>
#include <ostream>
#include <string>

#include "bridge/frame_decoder.h"
#include "tools/skiff-host/host_options.h"
#include "tools/skiff-host/progress_display.h"

// Exit status of skiff-host when it could not make the FIFOs or start skiff.
constexpr int kHostSetupFailure = 125;
// The text of the terminate packet skiff-host sends.
extern const char kTerminateText[];

// The skiff binary `options` name: --skiff, else skiff beside the running
// executable, else "skiff" (looked up through PATH when it holds no slash).
std::string ChooseSkiffBinary(const HostOptions& options);

class HostSession {
 public:
  // Progress and the result go to `display`, the host's own troubles to
  // `errors`.
  HostSession(const HostOptions& options, ProgressDisplay* display, std::ostream* errors);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Runs skiff to its end and returns the exit status for skiff-host.
  int Run();

 private:
  bool PrepareFifo(const std::string& path);
  bool StartSkiff();
  // False when skiff ended first or a FIFO could not be opened.
  bool Connect();
  void Exchange();
  // Feeds received bytes to the decoder and reacts to every packet; false
  // once the stream is broken.
  bool TakeBytes(const char* data, size_t size);
  // Reads whatever is waiting without blocking, after skiff has ended.
  void DrainWaiting();
  // The packets of --flood.
  void Flood();
  // The packets of --send-ids, then the terminate packet (or its oversized
  // stand-in).
  void SendClosingPackets();
  bool WriteBytes(const char* data, size_t size);
  void CloseWriter();
  bool SkiffHasEnded();
  // Sleeps up to `duration`; false if skiff ended meanwhile.
  bool PauseWhileSkiffRuns(std::chrono::milliseconds duration);
  int WaitForSkiff();

  const HostOptions& options_;
  ProgressDisplay* display_;
  std::ostream* errors_;
  std::string inPath_;
  std::string outPath_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int waitStatus_ = 0;
  int readFd_ = -1;
  int writeFd_ = -1;
  FrameDecoder decoder_;
  int64_t packetsReceived_ = 0;
  bool answered_ = false;
  bool answerPending_ = false;
  std::chrono::steady_clock::time_point answerAt_;
};

#endif  // SKIFF_TOOLS_SKIFF_HOST_HOST_SESSION_H_
