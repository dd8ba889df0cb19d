// What skiff-host shows of the packets it receives: a progress bar redrawn
// on one line for a person at a terminal, otherwise one plain line per packet
// that a script can match.
#ifndef SKIFF_TOOLS_SKIFF_HOST_PROGRESS_DISPLAY_H_
#define SKIFF_TOOLS_SKIFF_HOST_PROGRESS_DISPLAY_H_

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "bridge/comm_packet.h"

class ProgressDisplay {
 public:
  ProgressDisplay(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}

  void ShowPacket(const CommPacket& packet);
  // A remark of the host's own, such as a broken stream.
  void ShowNote(const std::string& text);
  // "result: success" for 0, "result: failure (CODE)" otherwise.
  void ShowExit(int exitCode);
  void ShowSignal(int signalNumber);

 private:
  void DrawBar(int32_t percent);
  // Ends a bar that is still open, so that a line can follow it.
  void EndBar();
  void Line(const std::string& text);

  std::ostream& out_;
  bool terminal_;
  bool barOpen_ = false;
};

#endif  // SKIFF_TOOLS_SKIFF_HOST_PROGRESS_DISPLAY_H_
