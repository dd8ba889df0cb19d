#include "bridge/time_based_progress_monitor.h"

#include <utility>

TimeBasedProgressMonitor::TimeBasedProgressMonitor()
    : TimeBasedProgressMonitor(&std::chrono::steady_clock::now) {}

TimeBasedProgressMonitor::TimeBasedProgressMonitor(Clock clock) : clock_(std::move(clock)) {}

int32_t TimeBasedProgressMonitor::GetProgress() {
  const TimePoint now = clock_();
  if (!started_) {
    start_ = now;
    started_ = true;
  }
  const int64_t elapsedMicros =
      std::chrono::duration_cast<std::chrono::microseconds>(now - start_).count();
  if (elapsedMicros > 99999999) return 90;
  const int64_t seconds = elapsedMicros / 1000000;
  const int32_t value = static_cast<int32_t>(seconds / 10 * 10);
  return value == 0 ? 10 : value;
}
