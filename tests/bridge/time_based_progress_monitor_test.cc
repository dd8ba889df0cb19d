#include "bridge/time_based_progress_monitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {

using std::chrono::milliseconds;

class FakeClock {
 public:
  TimeBasedProgressMonitor::Clock AsClock() {
    return [this] { return now_; };
  }
  void Advance(milliseconds by) { now_ += by; }

 private:
  TimeBasedProgressMonitor::TimePoint now_{std::chrono::hours(1000)};
};

TEST(TimeBasedProgressMonitor, ValuesFollowTimeSinceTheFirstCall) {
  FakeClock clock;
  TimeBasedProgressMonitor monitor(clock.AsClock());
  clock.Advance(milliseconds(500000));  // Time before the first call does not count.
  EXPECT_EQ(monitor.GetProgress(), 10);
  const struct {
    int atMillis;
    int value;
  } steps[] = {{19900, 10}, {20000, 20}, {29999, 20}, {55000, 50}, {99900, 90}, {150000, 90}};
  int elapsed = 0;
  for (const auto& step : steps) {
    clock.Advance(milliseconds(step.atMillis - elapsed));
    elapsed = step.atMillis;
    EXPECT_EQ(monitor.GetProgress(), step.value) << step.atMillis << " ms";
  }
}

TEST(TimeBasedProgressMonitor, EarlierReadingsFollowTheSameFormula) {
  // The real clock is monotonic; an injected one that goes back gets the
  // formula's negative tens.
  FakeClock clock;
  TimeBasedProgressMonitor monitor(clock.AsClock());
  monitor.GetProgress();
  clock.Advance(milliseconds(-9999));
  EXPECT_EQ(monitor.GetProgress(), 10);
  clock.Advance(milliseconds(9999 - 25000));
  EXPECT_EQ(monitor.GetProgress(), -20);
}

TEST(TimeBasedProgressMonitor, DefaultClockStartsAtTenThroughTheInterface) {
  std::unique_ptr<ProgressMonitor> monitor = std::make_unique<TimeBasedProgressMonitor>();
  EXPECT_EQ(monitor->GetProgress(), 10);
  EXPECT_EQ(monitor->GetProgress(), 10);
}

}  // namespace
