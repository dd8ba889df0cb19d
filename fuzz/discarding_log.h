// A log that drops every line: the fuzz targets check results, not log lines,
// and must not write the machine's log.
#ifndef SKIFF_FUZZ_DISCARDING_LOG_H_
#define SKIFF_FUZZ_DISCARDING_LOG_H_

#include <string>

#include "log/log_sink.h"

class DiscardingLog : public LogSink {
 public:
  using LogSink::Log;
  void Log(const std::string&) override {}
};

#endif  // SKIFF_FUZZ_DISCARDING_LOG_H_
