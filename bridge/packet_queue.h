// The packets a channel has received and the runner has not yet taken.
#ifndef SKIFF_BRIDGE_PACKET_QUEUE_H_
#define SKIFF_BRIDGE_PACKET_QUEUE_H_

#include <deque>
#include <mutex>

#include "bridge/comm_packet.h"

constexpr char kMessageQueueLockName[] = "edt.CB.messageQueue";

class PacketQueue {
 public:
  // The queue of the process's one channel.
  static PacketQueue& GetInstance();

  // Always succeeds.
  bool Push(const CommPacket& packet);
  // Moves the front packet into `packet`; on an empty queue returns false and
  // leaves `packet` as it was.
  bool Pop(CommPacket* packet);
  void Clear();

 private:
  std::deque<CommPacket> packets_;
};

// The one lock over every queue of the process, whichever channel owns it.
std::recursive_mutex& MessageQueueLock();

#endif  // SKIFF_BRIDGE_PACKET_QUEUE_H_
