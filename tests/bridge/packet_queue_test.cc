#include "bridge/packet_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(PacketQueue, DropsWhatDoesNotFitAndNeverLosesATerminate) {
  const struct {
    PacketQueueLimits limits;
    const char* steps;   // "+T" pushes a progress packet with the text T, "!T" a
                         // terminate, "-" pops, "~" clears
    const char* events;  // "no:T" for a push refused, T for a packet popped, in
                         // the steps and then until empty
  } rows[] = {
      {{2, 100}, "+a +b +c - +d", "no:c a b d "},       // by count
      {{10, 4}, "+ab +cd +e - +ef", "no:e ab cd ef "},  // by text bytes
      {{2, 100}, "+a +b !t +c", "no:c a t "},           // a terminate takes the newest place
      {{10, 4}, "+ab +cd !x", "ab x "},                 // and makes room for its bytes
      {{2, 100}, "+a !t !u", "no:u a t "},              // one waiting terminate is enough
      {{2, 100}, "!t +a - +b !u", "t a u "},            // a taken one no longer counts
      {{10, 2}, "+ab ~ +cd", "cd "},                    // Clear forgets the bytes
      {{1, 100}, "!t ~ +a !u", "u "},                   // and the terminates
  };
  for (const auto& row : rows) {
    PacketQueue queue(row.limits);
    std::string events;
    CommPacket out;
    std::istringstream steps(row.steps);
    for (std::string step; steps >> step;) {
      if (step == "-" && queue.Pop(&out)) events += out.text + " ";
      if (step == "~") queue.Clear();
      CommPacket packet = MakeReportPacket(step.substr(1));
      if (step[0] == '+') packet.packetId = CB_Pkt_Progress;
      if (step.size() > 1 && !queue.Push(packet)) events += "no:" + packet.text + " ";
    }
    while (queue.Pop(&out)) events += out.text + " ";
    EXPECT_EQ(events, row.events) << row.steps;
  }
}

// Pushes and pops, of any queue, wait while someone holds the one
// process-wide lock, which its holder may take again.
TEST(PacketQueue, EveryQueueTakesTheOneRecursiveLock) {
  PacketQueue queue;
  CommPacket out;
  std::atomic<int> done{0};
  std::unique_lock<std::recursive_mutex> hold(MessageQueueLock());
  ASSERT_TRUE(queue.Push(MakeReportPacket("a")));
  std::thread popper([&] { done += queue.Pop(&out); });
  std::thread pusher([&] { done += PacketQueue().Push(MakeReportPacket("b")); });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(done, 0);
  hold.unlock();
  popper.join();
  pusher.join();
  EXPECT_EQ(done, 2);
}

}  // namespace
