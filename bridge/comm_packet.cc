#include "bridge/comm_packet.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

namespace {

CommPacket MakePacket(uint32_t packetId, std::string text) {
  CommPacket packet;
  packet.packetId = packetId;
  packet.auxiliaryWord = kDefaultAuxiliaryWord;
  packet.length = static_cast<uint32_t>(text.size() + 1);
  packet.text = std::move(text);
  return packet;
}

}  // namespace

std::string MakeValueText(int32_t value) {
  return "<data><value>" + std::to_string(value) + "</value></data>";
}

CommPacket MakeValuePacket(uint32_t packetId, int32_t value) {
  return MakePacket(packetId, MakeValueText(value));
}

CommPacket MakeReportPacket(const std::string& message) {
  return MakePacket(CB_Pkt_Terminate, message);
}

CommPacket MakeNonePacket() {
  CommPacket packet;
  packet.packetId = CB_Pkt_None;
  packet.auxiliaryWord = kDefaultAuxiliaryWord;
  return packet;
}

std::optional<int32_t> ValueFromText(const std::string& text) {
  static const std::string prefix = "<data><value>";
  static const std::string suffix = "</value></data>";
  if (text.size() <= prefix.size() + suffix.size() || text.compare(0, prefix.size(), prefix) != 0 ||
      text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return std::nullopt;
  }
  const std::string digits =
      text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(digits.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

bool IsFinalPacket(const CommPacket& packet) {
  return packet.packetId == CB_Pkt_Error ||
         (packet.packetId == CB_Pkt_Progress && ValueFromText(packet.text) == 100);
}
