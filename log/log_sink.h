// Where the operations write their log lines: the machine-wide installer log
// in the program, a recording double in the tests.
#ifndef SKIFF_LOG_LOG_SINK_H_
#define SKIFF_LOG_LOG_SINK_H_

#include <string>

class LogSink {
 public:
  virtual ~LogSink() = default;

  // Writes one line; the sink adds whatever prefix and line end it needs.
  virtual void Log(const std::string& message) = 0;

  // Writes one line: `phrase` directly followed by `text`. A sink that can
  // write the two without joining them spares a copy of a large text (a
  // command's whole output).
  virtual void Log(const std::string& phrase, const std::string& text) { Log(phrase + text); }
};

#endif  // SKIFF_LOG_LOG_SINK_H_
