// Estimates progress from the time since the first query: 10 at first, 10
// more every further ten seconds from 20 s on, capped at 90.
#ifndef SKIFF_BRIDGE_TIME_BASED_PROGRESS_MONITOR_H_
#define SKIFF_BRIDGE_TIME_BASED_PROGRESS_MONITOR_H_

#include <chrono>
#include <cstdint>
#include <functional>

#include "bridge/progress_monitor.h"

class TimeBasedProgressMonitor : public ProgressMonitor {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Clock = std::function<TimePoint()>;

  // Uses the monotonic clock, so that setting the system clock back cannot
  // make the estimate drop.
  TimeBasedProgressMonitor();
  explicit TimeBasedProgressMonitor(Clock clock);

  // The first call starts the clock.
  int32_t GetProgress() override;

 private:
  Clock clock_;
  bool started_ = false;
  TimePoint start_;
};

#endif  // SKIFF_BRIDGE_TIME_BASED_PROGRESS_MONITOR_H_
