#include "bridge/comm_packet.h"

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
