// One run of skiff under skiff-host: the child process, the host's end of its
// pipes and the result.
#ifndef SKIFF_TOOLS_SKIFF_HOST_HOST_SESSION_H_
#define SKIFF_TOOLS_SKIFF_HOST_HOST_SESSION_H_

#include <sys/types.h>

#include <ostream>
#include <string>

#include "bridge/comm_packet.h"
#include "tools/skiff-host/host_end.h"
#include "tools/skiff-host/host_options.h"
#include "tools/skiff-host/progress_display.h"

// Exit status of skiff-host when it could not make the FIFOs or start skiff.
constexpr int kHostSetupFailure = 125;

// The skiff binary `options` name: --skiff, else skiff beside the running
// executable, else "skiff" (looked up through PATH when it holds no slash).
std::string ChooseSkiffBinary(const HostOptions& options);

class HostSession : private HostEndOwner {
 public:
  // Progress and the result go to `display`, the host's own troubles to
  // `errors`.
  HostSession(const HostOptions& options, ProgressDisplay* display, std::ostream* errors);
  ~HostSession() override;
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Runs skiff to its end and returns the exit status for skiff-host.
  int Run();

 private:
  bool StartSkiff();
  bool SkiffHasEnded();
  int WaitForSkiff();

  bool PeerRunning() override;
  void OnPacket(const CommPacket& packet) override;
  void OnNote(const std::string& note) override;
  void OnError(const std::string& message) override;

  const HostOptions& options_;
  ProgressDisplay* display_;
  std::ostream* errors_;
  HostEnd end_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int waitStatus_ = 0;
};

#endif  // SKIFF_TOOLS_SKIFF_HOST_HOST_SESSION_H_
