#include "tests/support/recording_log.h"

void RecordingLog::Log(const std::string& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(message);
}

std::vector<std::string> RecordingLog::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}
