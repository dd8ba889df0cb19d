#include "bridge/time_based_progress_monitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <utility>

namespace {

using std::chrono::milliseconds;

TEST(TimeBasedProgressMonitor, ValuesFollowTimeSinceTheFirstCall) {
  TimeBasedProgressMonitor::TimePoint now{std::chrono::hours(1000)};
  TimeBasedProgressMonitor monitor([&now] { return now; });
  now += milliseconds(500000);  // Time before the first call does not count.
  EXPECT_EQ(monitor.GetProgress(), 10);
  // Milliseconds after the first call, and the value then.
  const std::pair<int, int> steps[] = {{19900, 10}, {20000, 20}, {29999, 20},
                                       {55000, 50}, {99900, 90}, {150000, 90}};
  const auto start = now;
  for (const auto& [atMillis, value] : steps) {
    now = start + milliseconds(atMillis);
    EXPECT_EQ(monitor.GetProgress(), value) << atMillis << " ms";
  }
}

}  // namespace
