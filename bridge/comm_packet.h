// One packet exchanged with the installer host, and the ids Skiff knows.
#ifndef SKIFF_BRIDGE_COMM_PACKET_H_
#define SKIFF_BRIDGE_COMM_PACKET_H_

#include <cstdint>
#include <optional>
#include <string>

constexpr uint32_t CB_Pkt_Invalid = 0;
constexpr uint32_t CB_Pkt_Terminate = 4;
constexpr uint32_t CB_Pkt_Progress = 9;
constexpr uint32_t CB_Pkt_Error = 10;
constexpr uint32_t CB_Pkt_Errors = 18;
// Never on the wire: what a read yields when nothing is waiting.
constexpr uint32_t CB_Pkt_None = 65535;

// The auxiliary word of every packet Skiff makes.
constexpr uint32_t kDefaultAuxiliaryWord = 0xFFFF;

class CommPacket {
 public:
  uint32_t packetId = CB_Pkt_Invalid;
  // Stored as received; Skiff never interprets it.
  uint32_t auxiliaryWord = 0;
  // Text bytes plus the NUL that travels on the wire.
  uint32_t length = 0;
  std::string text;
};

// "<data><value>" + value + "</value></data>".
std::string MakeValueText(int32_t value);
// A progress (id 9) or error (id 10) packet carrying `value`.
CommPacket MakeValuePacket(uint32_t packetId, int32_t value);
// The terminate packet by which the transport reports a broken channel.
CommPacket MakeReportPacket(const std::string& message);
// The id-65535 placeholder for "no packet waiting".
CommPacket MakeNonePacket();

// The number in a "<data><value>N</value></data>" text; nothing for any other
// text.
std::optional<int32_t> ValueFromText(const std::string& text);
// Id 10, or id 9 carrying 100: the last packet of an operation, after which
// Skiff waits for the host's terminate packet.
bool IsFinalPacket(const CommPacket& packet);

#endif  // SKIFF_BRIDGE_COMM_PACKET_H_
