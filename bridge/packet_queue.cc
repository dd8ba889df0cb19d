#include "bridge/packet_queue.h"

std::recursive_mutex& MessageQueueLock() {
  static std::recursive_mutex lock;
  return lock;
}

PacketQueue::PacketQueue(PacketQueueLimits limits) : limits_(limits) {}

bool PacketQueue::Push(const CommPacket& packet) {
  std::lock_guard<std::recursive_mutex> hold(MessageQueueLock());
  if (!HasRoomFor(packet)) {
    if (packet.packetId != CB_Pkt_Terminate || terminates_ > 0) return false;
    // Without a terminate waiting, everything queued is expendable.
    while (!packets_.empty() && !HasRoomFor(packet)) {
      textBytes_ -= packets_.back().text.size();
      packets_.pop_back();
    }
  }
  packets_.push_back(packet);
  textBytes_ += packet.text.size();
  if (packet.packetId == CB_Pkt_Terminate) ++terminates_;
  return true;
}

bool PacketQueue::Pop(CommPacket* packet) {
  std::lock_guard<std::recursive_mutex> hold(MessageQueueLock());
  if (packets_.empty()) return false;
  *packet = packets_.front();
  packets_.pop_front();
  textBytes_ -= packet->text.size();
  if (packet->packetId == CB_Pkt_Terminate) --terminates_;
  return true;
}

void PacketQueue::Clear() {
  std::lock_guard<std::recursive_mutex> hold(MessageQueueLock());
  packets_.clear();
  textBytes_ = 0;
  terminates_ = 0;
}

bool PacketQueue::HasRoomFor(const CommPacket& packet) const {
  return packets_.size() < limits_.packets && textBytes_ + packet.text.size() <= limits_.textBytes;
}
