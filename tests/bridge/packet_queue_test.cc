#include "bridge/packet_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

CommPacket Numbered(int n) { return MakeReportPacket(std::to_string(n)); }

TEST(PacketQueue, PopsInPushOrderAndReportsEmpty) {
  PacketQueue queue;
  CommPacket first = MakeValuePacket(CB_Pkt_Progress, 10);
  first.auxiliaryWord = 5;
  ASSERT_TRUE(queue.Push(first));
  ASSERT_TRUE(queue.Push(Numbered(2)));

  CommPacket out;
  ASSERT_TRUE(queue.Pop(&out));
  EXPECT_EQ(out.packetId, CB_Pkt_Progress);
  EXPECT_EQ(out.auxiliaryWord, 5u);
  EXPECT_EQ(out.length, first.length);
  EXPECT_EQ(out.text, first.text);
  ASSERT_TRUE(queue.Pop(&out));
  EXPECT_EQ(out.text, "2");

  out = MakeNonePacket();
  out.text = "caller's";
  EXPECT_FALSE(queue.Pop(&out));
  EXPECT_EQ(out.packetId, CB_Pkt_None);
  EXPECT_EQ(out.text, "caller's");

  queue.Push(Numbered(3));
  queue.Clear();
  EXPECT_FALSE(queue.Pop(&out));
}

TEST(PacketQueue, ConsumerSeesAProducersPacketsInOrderWhileItPushes) {
  constexpr int kCount = 2000;
  PacketQueue queue;
  std::thread producer([&] {
    for (int i = 0; i < kCount; ++i) queue.Push(Numbered(i));
  });
  int expected = 0;
  while (expected < kCount) {
    CommPacket out;
    if (queue.Pop(&out)) {
      ASSERT_EQ(out.text, std::to_string(expected++));
    }
  }
  producer.join();
}

TEST(PacketQueue, LockIsRecursiveAndSharedByAllQueues) {
  EXPECT_STREQ(kMessageQueueLockName, "edt.CB.messageQueue");
  PacketQueue a;
  std::lock_guard<std::recursive_mutex> hold(MessageQueueLock());
  a.Push(Numbered(1));  // Would deadlock on a plain mutex.
  bool otherThreadGotIn = false;
  std::thread([&] {
    otherThreadGotIn = MessageQueueLock().try_lock();
    if (otherThreadGotIn) MessageQueueLock().unlock();
  }).join();
  EXPECT_FALSE(otherThreadGotIn);
}

}  // namespace
