// How the host's end of the pipes behaves: by default as the installer host
// does, or in one of the ways a host may misbehave, for tests of skiff's side.
#ifndef SKIFF_TOOLS_SKIFF_HOST_HOST_BEHAVIOUR_H_
#define SKIFF_TOOLS_SKIFF_HOST_HOST_BEHAVIOUR_H_

#include <cstdint>
#include <vector>

struct HostBehaviour {
  // Sends the closing packets as soon as it is connected, and so never
  // answers the final packet.
  bool terminateAtOnce = false;
  // Sends the closing packets after the first final packet (id 10, or id 9
  // with the value 100).
  bool answerFinalPacket = true;
  // Closes the writing end once this many packets have arrived; -1 never.
  int64_t closeAfter = -1;
  // Writes the terminate packet's header in two parts, apart in time.
  bool splitHeader = false;
  // Instead of the terminate packet, writes a header announcing too much.
  bool oversized = false;
  // Packets of these ids go before the terminate packet.
  std::vector<uint32_t> sendIds;
  uint32_t answerLateMs = 0;
  uint32_t connectLateMs = 0;
  // Packets of the largest size written as soon as connected.
  uint64_t flood = 0;
};

#endif  // SKIFF_TOOLS_SKIFF_HOST_HOST_BEHAVIOUR_H_
