// The packets a channel has received and the runner has not yet taken.
#ifndef SKIFF_BRIDGE_PACKET_QUEUE_H_
#define SKIFF_BRIDGE_PACKET_QUEUE_H_

#include <cstddef>
#include <deque>
#include <mutex>

#include "bridge/comm_packet.h"

// How much a queue holds. The runner takes packets only once the operation
// has ended, and the pipe it reads is writable by every local user, so
// without a bound a long install would keep whatever anybody sends.
struct PacketQueueLimits {
  size_t packets = 64;
  // Text bytes of all packets together: ten packets of the largest size.
  size_t textBytes = 4 * 1024 * 1024;
};

class PacketQueue {
 public:
  explicit PacketQueue(PacketQueueLimits limits = PacketQueueLimits());

  // Appends a copy; false when the packet was dropped. On a full queue a
  // packet other than a terminate is dropped. A terminate is never lost: it
  // takes the room of the newest packets instead, unless a terminate already
  // waits, in which case it is dropped, since the runner ends at the first.
  bool Push(const CommPacket& packet);
  // Moves the front packet into `packet`; on an empty queue returns false and
  // leaves `packet` as it was.
  bool Pop(CommPacket* packet);
  void Clear();

 private:
  bool HasRoomFor(const CommPacket& packet) const;

  const PacketQueueLimits limits_;
  std::deque<CommPacket> packets_;
  size_t textBytes_ = 0;
  size_t terminates_ = 0;
};

// The one lock over every queue of the process, whichever channel owns it.
std::recursive_mutex& MessageQueueLock();

#endif  // SKIFF_BRIDGE_PACKET_QUEUE_H_
