// Source of the progress values sent to the host while an operation runs.
#ifndef SKIFF_BRIDGE_PROGRESS_MONITOR_H_
#define SKIFF_BRIDGE_PROGRESS_MONITOR_H_

#include <cstdint>

class ProgressMonitor {
 public:
  // Percent; never 100, which only the runner sends once the work is done.
  virtual int32_t GetProgress() = 0;
  virtual ~ProgressMonitor() = default;
};

#endif  // SKIFF_BRIDGE_PROGRESS_MONITOR_H_
