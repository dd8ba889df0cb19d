#include "bridge/time_based_progress_monitor.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using std::chrono::milliseconds;

TEST(TimeBasedProgressMonitor, ValuesFollowTimeSinceTheFirstCall) {
  TimeBasedProgressMonitor::TimePoint now{std::chrono::hours(1000)};
  TimeBasedProgressMonitor monitor([&now] { return now; });
  now += milliseconds(500000);  // Time before the first call does not count.
  EXPECT_EQ(monitor.GetProgress(), 10);
  const struct {
    int atMillis;
    int value;
  } steps[] = {{19900, 10}, {20000, 20}, {29999, 20}, {55000, 50}, {99900, 90}, {150000, 90}};
  const auto start = now;
  for (const auto& step : steps) {
    now = start + milliseconds(step.atMillis);
    EXPECT_EQ(monitor.GetProgress(), step.value) << step.atMillis << " ms";
  }
}

}  // namespace
