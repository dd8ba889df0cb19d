#include "bridge/packet_frame.h"

#include <cstring>

namespace {

void AppendWord(uint32_t word, std::string* out) {
  for (int shift = 0; shift < 32; shift += 8) {
    out->push_back(static_cast<char>((word >> shift) & 0xFF));
  }
}

}  // namespace

bool EncodeFrame(const CommPacket& packet, std::string* frame) {
  const size_t payloadLength = packet.text.size() + 1;
  if (payloadLength > kMaxPayloadLength) return false;
  std::string out;
  out.reserve(kFrameHeaderSize + payloadLength);
  AppendWord(packet.packetId, &out);
  AppendWord(packet.auxiliaryWord, &out);
  AppendWord(static_cast<uint32_t>(payloadLength), &out);
  out += packet.text;
  out.push_back('\0');
  frame->swap(out);
  return true;
}

uint32_t ReadWord(const char* bytes) {
  uint32_t word = 0;
  for (int i = 3; i >= 0; --i) {
    word = (word << 8) | static_cast<unsigned char>(bytes[i]);
  }
  return word;
}

CommPacket PacketFromPayload(uint32_t packetId, uint32_t auxiliaryWord, const char* payload,
                             size_t payloadSize) {
  const void* nul = std::memchr(payload, '\0', payloadSize);
  const size_t textSize =
      nul ? static_cast<size_t>(static_cast<const char*>(nul) - payload) : payloadSize;
  CommPacket packet;
  packet.packetId = packetId;
  packet.auxiliaryWord = auxiliaryWord;
  packet.text.assign(payload, textSize);
  packet.length = static_cast<uint32_t>(textSize + 1);
  return packet;
}
