// The machine-wide installer log: one timestamped line per call, shared by all
// runs, rotated at start-up when it has grown too big.
#ifndef SKIFF_LOG_INSTALLER_LOG_H_
#define SKIFF_LOG_INSTALLER_LOG_H_

#include <boost/noncopyable.hpp>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

#include "log/log_sink.h"

constexpr char kInstallerLogFileName[] = "FLNXInstaller.log";
constexpr char kRunSeparator[] = "/****************************************************/";
// A log of this size is still appended to; one byte more and it is rotated.
constexpr uint64_t kMaxLogSizeBytes = 10485760;

class InstallerLog : public LogSink, private boost::noncopyable {
 public:
  // Opens (and if need be creates) the log below `libraryFolder`, rotating an
  // oversized one. A log that cannot be opened, or anything but a regular file
  // with a single name at its path, leaves the log closed and Log does
  // nothing.
  explicit InstallerLog(const std::string& libraryFolder);
  ~InstallerLog() override;

  // The process-wide log below the machine's Library folder.
  static InstallerLog& GetInstance();

  void Log(const std::string& message) override;

  bool IsOpen() const { return fd_ >= 0; }

 private:
  void Open(const std::string& libraryFolder);
  // Moves the oversized open log aside to a backup of the current second and
  // opens a fresh log; keeps appending to the old one when it cannot be moved.
  void Rotate(const std::string& libraryFolder, const std::string& logPath);

  std::mutex mutex_;
  // The line being written, its prefix kept from the line before: the
  // timestamp of prefixTime_ in its first prefixLength_ bytes.
  std::string line_;
  std::time_t prefixTime_ = 0;
  size_t prefixLength_ = 0;
  // Opened for appending, so that every line lands at the end of the file
  // whatever other runs write meanwhile.
  int fd_ = -1;
};

// libraryFolder + "/Logs/Orvane/Installers/", created with its parents
// (mode 0755 whatever the file-creation mask).
std::string GetLogDirectory(const std::string& libraryFolder);
// False when the directory already exists; otherwise whether creating it (and
// its parents) succeeded.
bool EnsureDirectoryExists(const std::string& path);
// The local time as "%Y-%m-%d_%H-%M-%S".
std::string FormatTimestamp();

#endif  // SKIFF_LOG_INSTALLER_LOG_H_
