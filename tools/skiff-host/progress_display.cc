#include "tools/skiff-host/progress_display.h"

#include <algorithm>

namespace {

constexpr int kBarWidth = 40;

}  // namespace

void ProgressDisplay::ShowPacket(const CommPacket& packet) {
  const std::optional<int32_t> value = ValueFromText(packet.text);
  if (packet.packetId == CB_Pkt_Progress && value) {
    if (terminal_) {
      DrawBar(*value);
    } else {
      Line("progress " + std::to_string(*value));
    }
  } else if (packet.packetId == CB_Pkt_Error && value) {
    Line("error " + std::to_string(*value));
  } else {
    Line("packet " + std::to_string(packet.packetId) + ": " + packet.text);
  }
}

void ProgressDisplay::ShowNote(const std::string& text) { Line(text); }

void ProgressDisplay::ShowExit(int exitCode) {
  Line(exitCode == 0 ? "result: success" : "result: failure (" + std::to_string(exitCode) + ")");
}

void ProgressDisplay::ShowSignal(int signalNumber) {
  Line("result: failure (signal " + std::to_string(signalNumber) + ")");
}

void ProgressDisplay::DrawBar(int32_t percent) {
  const int32_t shown = std::clamp<int32_t>(percent, 0, 100);
  const int filled = shown * kBarWidth / 100;
  std::string bar = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                    std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "] ";
  const std::string number = std::to_string(percent);
  bar += std::string(number.size() < 3 ? 3 - number.size() : 0, ' ') + number + "%";
  out_ << bar << std::flush;
  barOpen_ = true;
}

void ProgressDisplay::EndBar() {
  if (!barOpen_) return;
  out_ << '\n';
  barOpen_ = false;
}

void ProgressDisplay::Line(const std::string& text) {
  EndBar();
  out_ << text << '\n' << std::flush;
}
