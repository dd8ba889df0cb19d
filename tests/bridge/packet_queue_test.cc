#include "bridge/packet_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct BoundRow {
  const char* name;
  PacketQueueLimits limits;
  // "+T" pushes a progress packet with the text T, "!T" a terminate, "-"
  // pops, "~" clears.
  std::vector<std::string> steps;
  const char* refused;  // the texts of the pushes refused
  const char* popped;   // the texts popped, in the steps and then until empty
  friend void PrintTo(const BoundRow& row, std::ostream* out) { *out << row.name; }
};

class PacketQueueBoundTest : public ::testing::TestWithParam<BoundRow> {};

TEST_P(PacketQueueBoundTest, DropsWhatDoesNotFitAndNeverLosesATerminate) {
  PacketQueue queue(GetParam().limits);
  std::string refused;
  std::string popped;
  CommPacket out;
  for (const std::string& step : GetParam().steps) {
    if (step == "-" && queue.Pop(&out)) popped += out.text + " ";
    if (step == "~") queue.Clear();
    CommPacket packet = MakeReportPacket(step.substr(1));
    if (step[0] == '+') packet.packetId = CB_Pkt_Progress;
    if (step.size() > 1 && !queue.Push(packet)) refused += packet.text + " ";
  }
  while (queue.Pop(&out)) popped += out.text + " ";
  EXPECT_EQ(refused, GetParam().refused);
  EXPECT_EQ(popped, GetParam().popped);
  out.text = "caller's";
  EXPECT_FALSE(queue.Pop(&out));
  EXPECT_EQ(out.text, "caller's") << "an empty queue leaves the caller's packet";
}

INSTANTIATE_TEST_SUITE_P(
    Limits, PacketQueueBoundTest,
    ::testing::Values(
        BoundRow{"ByCount", {2, 100}, {"+a", "+b", "+c", "-", "+d"}, "c ", "a b d "},
        BoundRow{"ByTextBytes", {10, 4}, {"+ab", "+cd", "+e", "-", "+ef"}, "e ", "ab cd ef "},
        BoundRow{"TerminateTakesTheNewestPlace", {2, 100}, {"+a", "+b", "!t", "+c"}, "c ", "a t "},
        BoundRow{"TerminateMakesRoomForItsBytes", {10, 4}, {"+ab", "+cd", "!x"}, "", "ab x "},
        BoundRow{"OneWaitingTerminateIsEnough", {2, 100}, {"+a", "!t", "!u"}, "u ", "a t "},
        BoundRow{
            "ATakenTerminateNoLongerCounts", {2, 100}, {"!t", "+a", "-", "+b", "!u"}, "", "t a u "},
        BoundRow{"ClearForgetsTheBytes", {10, 2}, {"+ab", "~", "+cd"}, "", "cd "},
        BoundRow{"ClearForgetsTheTerminates", {1, 100}, {"!t", "~", "+a", "!u"}, "", "u "}),
    [](const ::testing::TestParamInfo<BoundRow>& info) { return std::string(info.param.name); });

// Pushes of another thread arrive in order, and wait while someone holds the
// one process-wide lock, which its holder may take again.
TEST(PacketQueue, EveryQueueTakesTheOneRecursiveLock) {
  constexpr int kCount = 2000;
  PacketQueue queue(PacketQueueLimits{kCount + 1, 1 << 20});
  std::thread producer([&] {
    for (int i = 0; i < kCount; ++i) queue.Push(MakeReportPacket(std::to_string(i)));
  });
  CommPacket out;
  for (int expected = 0; expected < kCount;) {
    if (queue.Pop(&out)) {
      ASSERT_EQ(out.text, std::to_string(expected++));
    }
  }
  producer.join();
  std::atomic<bool> pushed{false};
  std::unique_lock<std::recursive_mutex> hold(MessageQueueLock());
  std::thread other([&] { pushed = PacketQueue().Push(out); });
  ASSERT_TRUE(queue.Push(out));
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(pushed);
  hold.unlock();
  other.join();
  EXPECT_TRUE(pushed);
}

}  // namespace
