#include "bridge/packet_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

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
}

struct BoundCase {
  const char* name;
  PacketQueueLimits limits;
  // "+TEXT" pushes a progress packet, "!TEXT" a terminate, "-" pops, "~"
  // clears.
  std::vector<std::string> steps;
  // The texts of the pushes refused.
  std::string refused;
  // The texts popped, in the steps and then until the queue is empty.
  std::string popped;
  friend void PrintTo(const BoundCase& value, std::ostream* out) { *out << value.name; }
};

class PacketQueueBoundTest : public ::testing::TestWithParam<BoundCase> {};

TEST_P(PacketQueueBoundTest, DropsWhatDoesNotFitAndNeverLosesATerminate) {
  PacketQueue queue(GetParam().limits);
  std::string refused;
  std::string popped;
  CommPacket out;
  for (const std::string& step : GetParam().steps) {
    if (step == "-") {
      if (queue.Pop(&out)) popped += out.text + " ";
    } else if (step == "~") {
      queue.Clear();
    } else {
      CommPacket packet = MakeReportPacket(step.substr(1));
      if (step[0] == '+') packet.packetId = CB_Pkt_Progress;
      if (!queue.Push(packet)) refused += packet.text + " ";
    }
  }
  while (queue.Pop(&out)) popped += out.text + " ";
  EXPECT_EQ(refused, GetParam().refused);
  EXPECT_EQ(popped, GetParam().popped);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, PacketQueueBoundTest,
    ::testing::Values(
        BoundCase{"ByCount", {2, 100}, {"+a", "+b", "+c", "-", "+d"}, "c ", "a b d "},
        BoundCase{"ByTextBytes", {10, 4}, {"+ab", "+cd", "+e", "-", "+ef"}, "e ", "ab cd ef "},
        BoundCase{"TerminateTakesTheNewestPlace", {2, 100}, {"+a", "+b", "!t", "+c"}, "c ", "a t "},
        BoundCase{"TerminateMakesRoomForItsBytes", {10, 4}, {"+ab", "+cd", "!x"}, "", "ab x "},
        BoundCase{"OneWaitingTerminateIsEnough", {2, 100}, {"+a", "!t", "!u"}, "u ", "a t "},
        BoundCase{
            "ATakenTerminateNoLongerCounts", {2, 100}, {"!t", "+a", "-", "+b", "!u"}, "", "t a u "},
        BoundCase{"ClearForgetsTheBytes", {10, 2}, {"+ab", "~", "+cd"}, "", "cd "},
        BoundCase{"ClearForgetsTheTerminates", {1, 100}, {"!t", "~", "+a", "!u"}, "", "u "}),
    [](const ::testing::TestParamInfo<BoundCase>& info) { return std::string(info.param.name); });

// A host may send packets of 409,599 text bytes, as many as it likes.
TEST(PacketQueue, ByDefaultHolds64PacketsOrTenOfTheLargest) {
  PacketQueue queue;
  CommPacket packet = MakeValuePacket(CB_Pkt_Progress, 0);
  int held = 0;
  while (held <= 64 && queue.Push(packet)) ++held;
  EXPECT_EQ(held, 64);
  queue.Clear();
  packet.text.assign(409599, 'x');
  for (held = 0; held <= 64 && queue.Push(packet);) ++held;
  EXPECT_EQ(held, 10);
}

TEST(PacketQueue, ConsumerSeesAProducersPacketsInOrderWhileItPushes) {
  constexpr int kCount = 2000;
  PacketQueue queue(PacketQueueLimits{kCount, 1 << 20});
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
