#include "bridge/packet_queue.h"

std::recursive_mutex& MessageQueueLock() {
  static std::recursive_mutex lock;
  return lock;
}

PacketQueue& PacketQueue::GetInstance() {
  static PacketQueue queue;
  return queue;
}

bool PacketQueue::Push(const CommPacket& packet) {
  std::lock_guard<std::recursive_mutex> hold(MessageQueueLock());
  packets_.push_back(packet);
  return true;
}

bool PacketQueue::Pop(CommPacket* packet) {
  std::lock_guard<std::recursive_mutex> hold(MessageQueueLock());
  if (packets_.empty()) return false;
  *packet = packets_.front();
  packets_.pop_front();
  return true;
}

void PacketQueue::Clear() {
  std::lock_guard<std::recursive_mutex> hold(MessageQueueLock());
  packets_.clear();
}
