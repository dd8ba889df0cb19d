// The log the unit tests hand to the code under test: it keeps each message
// as one entry, in the order written, from any thread.
#ifndef SKIFF_TESTS_SUPPORT_RECORDING_LOG_H_
#define SKIFF_TESTS_SUPPORT_RECORDING_LOG_H_

#include <mutex>
#include <string>
#include <vector>

#include "log/log_sink.h"

class RecordingLog : public LogSink {
 public:
  void Log(const std::string& message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(message);
  }

  // A copy of the messages so far.
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

#endif  // SKIFF_TESTS_SUPPORT_RECORDING_LOG_H_
