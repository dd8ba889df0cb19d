// The wire frame of a packet: three little-endian 32-bit words (id,
// auxiliary word, payload length N) followed by N payload bytes, the text and
// one NUL.
#ifndef SKIFF_BRIDGE_PACKET_FRAME_H_
#define SKIFF_BRIDGE_PACKET_FRAME_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/comm_packet.h"

constexpr size_t kFrameHeaderSize = 12;
// Largest payload either side accepts; one byte more and the packet is refused
// by a sender and taken for a broken stream by a receiver.
constexpr uint32_t kMaxPayloadLength = 409600;

// Replaces `frame` with the frame of `packet`. N comes from the text, not
// from the packet's length field. Returns false, leaving `frame` untouched,
// when the text is too long to send.
bool EncodeFrame(const CommPacket& packet, std::string* frame);

// Reads the little-endian word at `bytes`.
uint32_t ReadWord(const char* bytes);

// Rebuilds a received packet: the text ends at the first NUL of the payload
// (bytes after it are dropped) and the length is recomputed from it.
CommPacket PacketFromPayload(uint32_t packetId, uint32_t auxiliaryWord, const char* payload,
                             size_t payloadSize);

#endif  // SKIFF_BRIDGE_PACKET_FRAME_H_
